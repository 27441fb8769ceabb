// libFuzzer target: list file bytes of any kind are read without a crash, and rows written
// and read again come back as they were.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/list_file.hpp"
#include "fuzz_check.hpp"
#include "support/text.hpp"

namespace {

// A field as a list can carry one: no "|", line ends, NUL or Ctrl-Z, no blanks at its ends.
std::string field(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c != '|' && c != '\r' && c != '\n' && c != '\0' && c != '\x1A') out += c;
    }
    return vq::trim_blanks(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vq::parse_list_text(std::string_view(reinterpret_cast<const char*>(data), size));

    fuzz::Input input(data, size);
    std::vector<vq::ProductEntry> rows;
    while (!input.rest().empty() && rows.size() < 50) {
        vq::ProductEntry row;
        row.title = field(input.text());
        row.offerId = field(input.text());
        row.price = field(input.text());
        row.address = field(input.text());
        if (!row.address.empty()) rows.push_back(std::move(row));
    }
    const std::vector<vq::ProductEntry> back =
        vq::parse_list_text(vq::format_list_text(rows));
    // Bytes that start no whole character come back as "?"; everything else as it was.
    FUZZ_CHECK(back.size() == rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        FUZZ_CHECK(back[i].title == vq::whole_characters(rows[i].title));
        FUZZ_CHECK(back[i].offerId == vq::whole_characters(rows[i].offerId));
        FUZZ_CHECK(back[i].price == vq::whole_characters(rows[i].price));
        FUZZ_CHECK(back[i].address == vq::whole_characters(rows[i].address));
    }
    return 0;
}
