#pragma once
// The product list file: one GBK line per row, title||offerId||price||address, CR LF ends.
// Fields are written as they stand, so a field holding "||" or a line break does not
// come back unchanged.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/batch_model.hpp"

namespace vq {

// The file text of the rows in order, each line ended by CR LF; blanks (ASCII and
// full-width) are trimmed from both ends of the whole text, and a byte that starts no whole
// GBK character is written as "?". Empty for no rows.
std::string format_list_text(const std::vector<ProductEntry>& rows);

// The rows of a list file's bytes. Lines end at CR, LF, NUL or Ctrl-Z; a line split at
// "||" into exactly four pieces is a row, any other line (headers, blank lines, rows with
// an empty address) is skipped.
std::vector<ProductEntry> parse_list_text(std::string_view bytes);

// The rows of the file; nothing when it cannot be read, so the caller can keep its list.
std::optional<std::vector<ProductEntry>> read_list_file(std::string_view gbk_path);

// Writes the rows through a temporary file renamed into place; false on failure, with the
// old file (if any) untouched.
bool write_list_file(std::string_view gbk_path, const std::vector<ProductEntry>& rows);

}  // namespace vq
