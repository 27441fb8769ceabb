#include "model/list_file.hpp"

#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr std::string_view kSeparator = "||";

// None of these can be the second byte of a GBK character, so a plain byte test is safe.
bool ends_line(char c) {
    return c == '\r' || c == '\n' || c == '\0' || c == '\x1a';
}

// The field as the list can hold it (see format_list_text).
std::string list_field(std::string_view value) {
    std::string field = whole_characters(value);
    for (char& c : field) {
        if (ends_line(c)) c = ' ';
    }
    field = replace_all(field, kSeparator, " ");
    // A "|" at an end would pair with the separator beside it; a "|" that is the second
    // byte of a character is no "|", so the ends are looked at by character.
    if (!field.empty() && field.front() == '|') field.front() = ' ';
    if (!field.empty() && field.back() == '|') {
        std::size_t last = 0;
        for (std::size_t i = 0; i < field.size(); i += gbk_char_length(field, i)) last = i;
        if (last == field.size() - 1) field.back() = ' ';
    }
    return field;
}

}  // namespace

std::string format_list_text(const std::vector<ProductEntry>& rows) {
    std::string text;
    // A field ending in a lead byte would swallow the separator's first "|" when read back
    // and lose its row: such a byte is written as "?".
    for (const ProductEntry& row : rows) {
        text.append(list_field(row.title)).append(kSeparator);
        text.append(list_field(row.offerId)).append(kSeparator);
        text.append(list_field(row.price)).append(kSeparator);
        text.append(list_field(row.address)).append("\r\n");
    }
    // The text ends with CR LF, so only blanks before the first title are removed.
    return trim_blanks(text);
}

ListContents read_list_contents(std::string_view bytes) {
    ListContents contents;
    int line = 1;
    bool lineUnreadable = false;  // reported once however many pieces it has
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && !ends_line(bytes[end])) ++end;
        const std::string_view piece = bytes.substr(start, end - start);
        // A sentinel byte after the line keeps an empty last field (a row without an address,
        // as the list writes it) from vanishing with the separator before it; no GBK
        // character ends in it.
        std::vector<std::string> pieces = split_text(std::string(piece) + '\x01', kSeparator);
        if (!pieces.empty()) pieces.back().pop_back();
        if (pieces.size() == 4) {
            ProductEntry row;
            row.title = pieces[0];
            row.offerId = pieces[1];
            row.price = pieces[2];
            row.address = pieces[3];
            contents.rows.push_back(std::move(row));
            contents.rowLines.push_back(line);
        } else if (!trim_blanks(piece).empty() && !lineUnreadable) {
            contents.unreadableLines.push_back(line);
            lineUnreadable = true;
        }
        if (end < bytes.size() && (bytes[end] == '\n' || bytes[end] == '\r')) {
            // CR LF is one line end.
            if (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ++end;
            ++line;
            lineUnreadable = false;
        }
        start = end + 1;
    }
    return contents;
}

std::string list_bytes_as_gbk(std::string_view bytes, bool* was_utf8) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    const bool marked = bytes.substr(0, kBom.size()) == kBom;
    if (marked) bytes.remove_prefix(kBom.size());
    const bool utf8 = (marked || first_invalid_gbk(bytes) != std::string_view::npos) &&
                      is_valid_utf8(bytes);
    if (was_utf8) *was_utf8 = utf8;
    return utf8 ? utf8_to_gbk(bytes) : std::string(bytes);
}

std::vector<ProductEntry> parse_list_text(std::string_view bytes) {
    return read_list_contents(bytes).rows;
}

ListFileRead read_list_file_contents(std::string_view gbk_path, bool decode_utf8) {
    ListFileRead read;
    read.file = read_regular_file(gbk_path, kMostListBytes);
    if (read.ok()) {
        if (decode_utf8) read.file.bytes = list_bytes_as_gbk(read.file.bytes, &read.wasUtf8);
        read.contents = read_list_contents(read.file.bytes);
        read.file.bytes.clear();
        read.file.bytes.shrink_to_fit();
    }
    return read;
}

std::optional<std::vector<ProductEntry>> read_list_file(std::string_view gbk_path) {
    ListFileRead read = read_list_file_contents(gbk_path);
    if (!read.ok()) return std::nullopt;
    return std::move(read.contents.rows);
}

bool write_list_file(std::string_view gbk_path, const std::vector<ProductEntry>& rows) {
    return write_file_atomic(gbk_path, format_list_text(rows));
}

}  // namespace vq
