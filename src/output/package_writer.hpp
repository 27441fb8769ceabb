#pragma once
// Package rows and the package table file in both formats.

#include <functional>
#include <string>
#include <string_view>

#include "model/batch_model.hpp"

namespace vq {

// The placeholder for a structural double quote in rows until the file is written.
inline constexpr std::string_view kQuotePlaceholder = "|*|";

// The header lines of the format as GBK text (format 4 goes out as UTF-16LE after FF FE).
const std::string& package_header_text(int format);

// The row of the format (4: 25 TAB-separated columns, 5: 48 comma-separated columns),
// with placeholders for structural quotes, ending in "\r\n". Quotes inside the title are
// doubled here so they cannot end the quoted field early; a bare field whose value holds
// the separator, a quote or a line break is quoted instead; every "*" of a value is
// doubled, so a value holding "|*|" cannot turn into a quote; a byte that starts no whole
// GBK character, and a NUL byte, becomes "?".
std::string build_package_row(const OfferRecord& record, int format);

// The complete file bytes: format 5 = GBK header + rows; format 4 = FF FE + UTF-16LE
// header + UTF-16LE rows followed by one zero code unit. Placeholders become quotes and
// the doubled "*" of values single again.
std::string package_file_bytes(int format, std::string_view package_rows);

// Why rows of the format cannot be added to the package table `bytes` (GBK, short): empty
// when they can, i.e. the bytes read strictly as a package of that format, every row has
// the format's field count, and the table ends whole (a line break; format 4 also its
// closing zero unit), so added rows cannot join or break an old one.
std::string append_refusal(int format, std::string_view bytes);

// `existing` (accepted by append_refusal) with the rows after its own; format 4 keeps its
// closing zero unit last.
std::string appended_package_bytes(int format, std::string_view existing,
                                   std::string_view package_rows);

enum class PackageWriteResult { Written, Failed, Abandoned };

// Writes the package file at output_path through a temporary file in the same folder
// renamed into place, so a failed write never leaves a partial file and the previous
// file stays. may_commit, when given, is asked just before the rename; false abandons
// the write (the temporary file is removed, nothing is logged). Logs " 文件写成功！" on
// success and a failure line otherwise.
PackageWriteResult write_package_file(int format, std::string_view output_path,
                                      std::string_view package_rows, LogSink& log,
                                      const Clock& clock,
                                      const std::function<bool()>& may_commit = {});
// The same for complete file bytes (an appended package).
PackageWriteResult write_package_bytes(std::string_view output_path, std::string_view bytes,
                                       LogSink& log, const Clock& clock,
                                       const std::function<bool()>& may_commit = {});

}  // namespace vq
