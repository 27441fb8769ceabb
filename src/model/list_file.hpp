#pragma once
// The product list file: one GBK line per row, title||offerId||price||address, CR LF ends.
// The format cannot hold "||", a line break, NUL or Ctrl-Z inside a field: the writer puts
// a blank in their place, so every row it writes reads back as one row.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/batch_model.hpp"
#include "support/files.hpp"

namespace vq {

// The file text of the rows in order, each line ended by CR LF; blanks (ASCII and
// full-width) are trimmed from both ends of the whole text, and a byte that starts no whole
// GBK character is written as "?". Empty for no rows.
std::string format_list_text(const std::vector<ProductEntry>& rows);

// The rows of a list file's bytes. Lines end at CR, LF, NUL or Ctrl-Z; a line split at
// "||" into exactly four pieces is a row, any other line (headers, blank lines, rows with
// an empty address) is skipped.
std::vector<ProductEntry> parse_list_text(std::string_view bytes);

// A list file's bytes read as parse_list_text does, with where each row came from and the
// lines that hold something but are no row. Line numbers are 1-based and count CR LF, LF
// and a lone CR as one line end each (NUL and Ctrl-Z end a piece of a line, not the line).
struct ListContents {
    std::vector<ProductEntry> rows;
    std::vector<int> rowLines;         // the file line of each row
    std::vector<int> unreadableLines;  // lines, not only blanks, without a four-piece row
};
ListContents read_list_contents(std::string_view bytes);

// A list file's bytes as the GBK the list format holds: a file saved as UTF-8 (with its
// byte-order mark, or well-formed UTF-8 that is no GBK) is converted, and was_utf8 says so.
std::string list_bytes_as_gbk(std::string_view bytes, bool* was_utf8 = nullptr);

// The file's contents, or the reason it cannot be read (not a regular file, larger than
// kMostListBytes, or unreadable).
struct ListFileRead {
    FileRead file;  // its bytes are moved into contents when read
    ListContents contents;
    bool wasUtf8 = false;  // decoded from UTF-8 (decode_utf8 only)
    bool ok() const { return file.ok(); }
};
// decode_utf8: a file saved as UTF-8 is read as such (list_bytes_as_gbk), for readers that
// do not write the file back.
ListFileRead read_list_file_contents(std::string_view gbk_path, bool decode_utf8 = false);

// The rows of the file; nothing when it cannot be read, so the caller can keep its list.
std::optional<std::vector<ProductEntry>> read_list_file(std::string_view gbk_path);

// Writes the rows through a temporary file renamed into place; false on failure, with the
// old file (if any) untouched.
bool write_list_file(std::string_view gbk_path, const std::vector<ProductEntry>& rows);

}  // namespace vq
