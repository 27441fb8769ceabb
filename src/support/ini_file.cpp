#include "support/ini_file.hpp"

#include <unistd.h>

#include <mutex>

#include "support/files.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr std::size_t npos = std::string_view::npos;

// None of these can be part of a GBK character, so trimming byte by byte is safe.
constexpr bool is_ini_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_ini_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_ini_blank(text.back())) text.remove_suffix(1);
    return text;
}

constexpr char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Folding second bytes would make different GBK characters equal, so only single-byte
// characters are folded.
bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size();) {
        const std::size_t n = gbk_char_length(a, i);
        if (n == 2) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
        } else if (fold(a[i]) != fold(b[i])) {
            return false;
        }
        i += n;
    }
    return true;
}

// One line of the content: [begin, end) without its line break, next = start of the next.
struct Line {
    std::size_t begin, end, next;
};

Line line_at(std::string_view bytes, std::size_t pos) {
    const std::size_t nl = bytes.find('\n', pos);
    Line line{pos, nl == npos ? bytes.size() : nl, nl == npos ? bytes.size() : nl + 1};
    if (line.end > line.begin && bytes[line.end - 1] == '\r') --line.end;
    return line;
}

// The name of a "[name]" line, cut at the line's last "]" as Windows does; nothing for
// other lines.
std::optional<std::string_view> header_name(std::string_view trimmed) {
    if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
    std::size_t close = npos;
    for (std::size_t i = 1; i < trimmed.size(); i += gbk_char_length(trimmed, i)) {
        if (trimmed[i] == ']') close = i;
    }
    if (close == npos) return std::nullopt;
    return trim(trimmed.substr(1, close - 1));
}

struct Lookup {
    bool section_found = false;
    std::size_t section_end = 0;  // just after the section's last non-blank line
    bool key_found = false;
    Line key_line{};
    std::size_t equals = 0;  // absolute position of the key line's "="
};

Lookup find_key(std::string_view bytes, std::string_view section, std::string_view key) {
    Lookup found;
    for (std::size_t pos = 0; pos < bytes.size();) {
        const Line line = line_at(bytes, pos);
        pos = line.next;
        const std::string_view content = bytes.substr(line.begin, line.end - line.begin);
        const std::string_view trimmed = trim(content);
        if (const auto name = header_name(trimmed)) {
            if (found.section_found) break;  // only the first matching section counts
            if (same_name(*name, section)) {
                found.section_found = true;
                found.section_end = line.next;
            }
            continue;
        }
        if (!found.section_found || trimmed.empty()) continue;
        found.section_end = line.next;
        if (trimmed.front() == ';') continue;
        const std::size_t eq = content.find('=');
        if (eq != npos && same_name(trim(content.substr(0, eq)), key)) {
            found.key_found = true;
            found.key_line = line;
            found.equals = line.begin + eq;
            return found;
        }
    }
    return found;
}

std::string_view line_break_of(std::string_view bytes) {
    const std::size_t nl = bytes.find('\n');
    return nl != npos && (nl == 0 || bytes[nl - 1] != '\r') ? "\n" : "\r\n";
}

bool has_line_break(std::string_view text) {
    return text.find_first_of("\r\n") != npos;
}

// A name whose last byte is a lead byte: written as "[name]", that byte would take the "]"
// as its second half, and the section could never be found again.
bool ends_in_lone_lead_byte(std::string_view name) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < name.size(); i += gbk_char_length(name, i)) last = i;
    return !name.empty() && last == name.size() - 1 &&
           is_gbk_lead_byte(static_cast<unsigned char>(name.back()));
}

std::mutex& write_mutex() {
    static std::mutex m;
    return m;
}

}  // namespace

bool IniFile::load(std::string_view gbk_path) {
    auto bytes = read_file_bytes(gbk_path, kMostSettingsBytes);
    bytes_ = bytes ? std::move(*bytes) : std::string();
    return bytes.has_value();
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const {
    section = trim(section);
    key = trim(key);
    if (section.empty() || key.empty()) return std::nullopt;
    const Lookup found = find_key(bytes_, section, key);
    if (!found.key_found) return std::nullopt;
    std::string_view v = trim(
        std::string_view(bytes_).substr(found.equals + 1, found.key_line.end - found.equals - 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

bool IniFile::set_value(std::string_view section, std::string_view key, std::string_view value) {
    section = trim(section);
    key = trim(key);
    if (section.empty() || key.empty() || has_line_break(section) || has_line_break(key) ||
        has_line_break(value) || key.find('=') != npos || key.front() == ';' ||
        key.front() == '[' || ends_in_lone_lead_byte(section)) {
        return false;
    }
    const std::string_view eol = line_break_of(bytes_);
    const Lookup found = find_key(bytes_, section, key);
    if (found.key_found) {
        // Keep "name = " as the line had it, so hand-edited files keep their look.
        std::size_t from = found.equals + 1;
        while (from < found.key_line.end && is_ini_blank(bytes_[from])) ++from;
        bytes_.replace(from, found.key_line.end - from, value);
        return true;
    }
    const std::size_t at = found.section_found ? found.section_end : bytes_.size();
    std::string added;
    // The last line may lack its line break; new lines must not join it.
    if (at == bytes_.size() && !bytes_.empty() && bytes_.back() != '\n') added += eol;
    if (!found.section_found) {
        added.append("[").append(section).append("]").append(eol);
    }
    added.append(key).append("=").append(value).append(eol);
    bytes_.insert(at, added);
    return true;
}

bool IniFile::remove_value(std::string_view section, std::string_view key) {
    section = trim(section);
    key = trim(key);
    if (section.empty() || key.empty()) return false;
    const Lookup found = find_key(bytes_, section, key);
    if (!found.key_found) return false;
    bytes_.erase(found.key_line.begin, found.key_line.next - found.key_line.begin);
    return true;
}

bool IniFile::has_section(std::string_view section) const {
    section = trim(section);
    return !section.empty() && find_key(bytes_, section, {}).section_found;
}

bool IniFile::save(std::string_view gbk_path) const {
    // Renaming over a read-only file would succeed; the profile functions refuse it.
    const std::string native = native_path(gbk_path);
    if (file_exists(gbk_path) && ::access(native.c_str(), W_OK) != 0) return false;
    return write_file_atomic(gbk_path, bytes_);
}

std::string read_ini_value(std::string_view gbk_path, std::string_view section,
                           std::string_view key, std::string_view fallback) {
    IniFile file;
    file.load(gbk_path);
    return file.value(section, key).value_or(std::string(fallback));
}

bool write_ini_value(std::string_view gbk_path, std::string_view section, std::string_view key,
                     std::string_view value) {
    return update_ini_file(gbk_path,
                           [&](IniFile& file) { return file.set_value(section, key, value); });
}

bool update_ini_file(std::string_view gbk_path, const std::function<bool(IniFile&)>& change) {
    std::lock_guard lock(write_mutex());
    IniFile file;
    // An existing file we cannot read must not be replaced by one holding only the changes.
    if (!file.load(gbk_path) && file_exists(gbk_path)) return false;
    return change(file) && file.save(gbk_path);
}

std::string quoted_ini_value(std::string_view value) {
    const bool blank_end = !value.empty() && (is_ini_blank(value.front()) || is_ini_blank(value.back()));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (!blank_end && !quoted) return std::string(value);
    return "\"" + std::string(value) + "\"";
}

}  // namespace vq
