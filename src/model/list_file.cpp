#include "model/list_file.hpp"

#include "support/files.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr std::string_view kSeparator = "||";

// None of these can be the second byte of a GBK character, so a plain byte test is safe.
bool ends_line(char c) {
    return c == '\r' || c == '\n' || c == '\0' || c == '\x1a';
}

}  // namespace

std::string format_list_text(const std::vector<ProductEntry>& rows) {
    std::string text;
    // A field ending in a lead byte would swallow the separator's first "|" when read back
    // and lose its row: such a byte is written as "?".
    for (const ProductEntry& row : rows) {
        text.append(whole_characters(row.title)).append(kSeparator);
        text.append(whole_characters(row.offerId)).append(kSeparator);
        text.append(whole_characters(row.price)).append(kSeparator);
        text.append(whole_characters(row.address)).append("\r\n");
    }
    // The text ends with CR LF, so only blanks before the first title are removed.
    return trim_blanks(text);
}

std::vector<ProductEntry> parse_list_text(std::string_view bytes) {
    std::vector<ProductEntry> rows;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && !ends_line(bytes[end])) ++end;
        const std::vector<std::string> pieces =
            split_text(bytes.substr(start, end - start), kSeparator);
        if (pieces.size() == 4) {
            ProductEntry row;
            row.title = pieces[0];
            row.offerId = pieces[1];
            row.price = pieces[2];
            row.address = pieces[3];
            rows.push_back(std::move(row));
        }
        start = end + 1;
    }
    return rows;
}

std::optional<std::vector<ProductEntry>> read_list_file(std::string_view gbk_path) {
    const std::optional<std::string> bytes = read_file_bytes(gbk_path);
    if (!bytes) return std::nullopt;
    return parse_list_text(*bytes);
}

bool write_list_file(std::string_view gbk_path, const std::vector<ProductEntry>& rows) {
    return write_file_atomic(gbk_path, format_list_text(rows));
}

}  // namespace vq
