#include "output/package_writer.hpp"

#include <array>
#include <span>

#include "output/package_check.hpp"
#include "output/package_layout.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

// Byte-order mark and the header in UTF-16LE, without a closing zero unit: the rows follow.
std::string utf16_text(std::string_view gbk) {
    std::string units = gbk_to_utf16le(gbk);
    units.resize(units.size() >= 2 ? units.size() - 2 : 0);  // the converter's closing unit
    return units;
}

}  // namespace

const std::string& package_header_text(PackageFormat format) {
    return package_layout(format).header_text();
}

std::string build_package_row(const OfferRecord& record, PackageFormat format) {
    return render_package_row(record, format);
}

std::string package_file_bytes(PackageFormat format, std::string_view package_rows) {
    const PackageLayout& layout = package_layout(format);
    if (!layout.utf16) return layout.header_text() + std::string(package_rows);
    std::string bytes("\xFF\xFE", 2);
    bytes.append(utf16_text(layout.header_text())).append(utf16_text(package_rows));
    if (layout.closingZeroUnit) bytes.append(2, '\0');
    return bytes;
}

std::string append_refusal(PackageFormat format, std::string_view bytes) {
    PackageTableReader reader(bytes);
    const PackageTable& table = reader.table();
    if (table.format == 0) return "不是数据包文件"_gbk;
    if (table.format != format_number(format)) return "数据包格式不同"_gbk;
    if (!table.headerMatches) return "表头不是数据包的表头"_gbk;
    const PackageLayout& layout = package_layout(format);
    const std::string_view text = layout.closingZeroUnit && bytes.size() >= 2
                                      ? bytes.substr(0, bytes.size() - 2)
                                      : bytes;
    const bool endsWithBreak = layout.utf16 ? text.size() >= 2 && text.substr(text.size() - 2) ==
                                                                      std::string_view("\n\0", 2)
                                            : !text.empty() && text.back() == '\n';
    if (!table.terminated || !endsWithBreak) return "文件不完整"_gbk;
    // Row by row: a large package is never held as records.
    std::string incomplete;
    PackageRecord record;
    while (reader.next(record, false)) {
        if (incomplete.empty() && (!record.error.empty() ||
                                   static_cast<int>(record.fields.size()) != layout.field_count())) {
            incomplete = "第 "_gbk + std::to_string(record.line) + " 行不完整"_gbk;
            if (table.badByte == std::string_view::npos) break;
        }
    }
    // The bad byte's line is known once the reading has passed it.
    if (table.badByte != std::string_view::npos) {
        return "第 "_gbk + std::to_string(table.badLine) + " 行有无法读取的字节"_gbk;
    }
    return incomplete;
}

namespace {

// The pieces of an appended table: the old bytes up to a closing zero unit, the rows in the
// table's encoding (held in `converted` for UTF-16) and the closing zero unit.
std::array<std::string_view, 3> appended_pieces(PackageFormat format, std::string_view existing,
                                                std::string_view package_rows,
                                                std::string& converted) {
    static constexpr std::string_view kZeroUnit("\0\0", 2);
    const PackageLayout& layout = package_layout(format);
    if (!layout.utf16) return {existing, package_rows, {}};
    converted = utf16_text(package_rows);
    if (!layout.closingZeroUnit) return {existing, converted, {}};
    return {existing.substr(0, existing.size() >= 2 ? existing.size() - 2 : 0), converted, kZeroUnit};
}

PackageWriteResult write_pieces(std::string_view output_path,
                                std::span<const std::string_view> pieces, LogSink& log,
                                const Clock& clock, const std::function<bool()>& may_commit) {
    const ReplaceResult replaced = replace_file(output_path, pieces, true, may_commit);
    const PackageWriteResult result = replaced == ReplaceResult::Written ? PackageWriteResult::Written
                                      : replaced == ReplaceResult::Abandoned
                                          ? PackageWriteResult::Abandoned
                                          : PackageWriteResult::Failed;
    if (result == PackageWriteResult::Abandoned) return result;
    const std::string& text = result == PackageWriteResult::Written
                                  ? " 文件写成功！\r\n"_gbk
                                  : " 文件写失败！请检查保存路径！\r\n"_gbk;
    log.append_log(log_time_stamp(clock) + text);
    return result;
}

}  // namespace

std::string appended_package_bytes(PackageFormat format, std::string_view existing,
                                   std::string_view package_rows) {
    std::string converted;
    std::string bytes;
    for (const std::string_view piece : appended_pieces(format, existing, package_rows, converted)) {
        bytes.append(piece);
    }
    return bytes;
}

PackageWriteResult write_package_file(PackageFormat format, std::string_view output_path,
                                      std::string_view package_rows, LogSink& log,
                                      const Clock& clock, const std::function<bool()>& may_commit) {
    const std::string bytes = package_file_bytes(format, package_rows);
    const std::string_view piece = bytes;
    return write_pieces(output_path, std::span(&piece, 1), log, clock, may_commit);
}

PackageWriteResult write_appended_package(PackageFormat format, std::string_view output_path,
                                          std::string_view existing, std::string_view package_rows,
                                          LogSink& log, const Clock& clock) {
    std::string converted;
    const auto pieces = appended_pieces(format, existing, package_rows, converted);
    return write_pieces(output_path, pieces, log, clock, {});
}

}  // namespace vq
