// libFuzzer target: an options file of any bytes answers lookups; a value it accepts to
// write reads back as written, and every other key keeps its value.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.hpp"
#include "support/ini_file.hpp"

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// A name as the file compares it: blanks trimmed, ASCII letters in either case.
std::string name(std::string_view text) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const std::string section(input.text());
    const std::string key(input.text());
    const std::string value(input.text());
    vq::IniFile ini;
    ini.set_bytes(std::string(input.rest()));
    const auto other = ini.value("SAVE", "type");
    if (!ini.set_value(section, key, value)) return 0;
    // Values are read trimmed and without one pair of surrounding quotes: only plain values
    // read back byte for byte.
    const bool plain = !value.empty() && !blank(value.front()) && !blank(value.back()) &&
                       value.front() != '"' && value.front() != '\'';
    if (plain) FUZZ_CHECK(ini.value(section, key) == value);
    if (name(section) != "save" || name(key) != "type") {
        FUZZ_CHECK(ini.value("SAVE", "type") == other);
    }
    return 0;
}
