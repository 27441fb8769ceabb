#pragma once
// Package rows and the package table file, in each format's layout.

#include <functional>
#include <string>
#include <string_view>

#include "model/batch_model.hpp"

namespace vq {

// The header lines of the format as GBK text (formats 4 and 6 go out as UTF-16LE after
// FF FE).
const std::string& package_header_text(PackageFormat format);

// The offer's row in the format, ending in the format's row end, as the file will hold it
// (GBK; see render_package_row).
std::string build_package_row(const OfferRecord& record, PackageFormat format);

// The complete file bytes: the header and the rows, in the format's encoding (format 4
// followed by one zero code unit).
std::string package_file_bytes(PackageFormat format, std::string_view package_rows);

// Why rows of the format cannot be added to the package table `bytes` (GBK, short): empty
// when they can, i.e. the bytes read strictly as a package of that format, every row has
// the format's field count, and the table ends whole (a line break; format 4 also its
// closing zero unit), so added rows cannot join or break an old one.
std::string append_refusal(PackageFormat format, std::string_view bytes);

// `existing` (accepted by append_refusal) with the rows after its own; format 4 keeps its
// closing zero unit last.
std::string appended_package_bytes(PackageFormat format, std::string_view existing,
                                   std::string_view package_rows);

enum class PackageWriteResult { Written, Failed, Abandoned };

// Writes the package file at output_path through a temporary file in the same folder
// renamed into place, so a failed write never leaves a partial file and the previous
// file stays. may_commit, when given, is asked just before the rename; false abandons
// the write (the temporary file is removed, nothing is logged). Logs " 文件写成功！" on
// success and a failure line otherwise.
PackageWriteResult write_package_file(PackageFormat format, std::string_view output_path,
                                      std::string_view package_rows, LogSink& log,
                                      const Clock& clock,
                                      const std::function<bool()>& may_commit = {});
// The same for `existing` (accepted by append_refusal) with the rows after its own: the
// bytes of appended_package_bytes, written without a copy of the old table.
PackageWriteResult write_appended_package(PackageFormat format, std::string_view output_path,
                                          std::string_view existing, std::string_view package_rows,
                                          LogSink& log, const Clock& clock);

}  // namespace vq
