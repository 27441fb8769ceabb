#include "app/list_commands.hpp"

#include <algorithm>

#include "model/list_file.hpp"
#include "support/gbk_literal.hpp"

namespace vq {

std::vector<ProductEntry> take_offer_rows(ListContents& contents, LogSink* log,
                                          const Clock* clock) {
    std::vector<ProductEntry> kept;
    kept.reserve(contents.rows.size());
    for (std::size_t i = 0; i < contents.rows.size(); ++i) {
        ProductEntry& row = contents.rows[i];
        if (is_offer_id(row.offerId)) {
            kept.push_back(std::move(row));
        } else if (log) {
            log->append_log(log_time_stamp(clock ? *clock : system_clock()) + "  列表文件第 "_gbk +
                            std::to_string(contents.rowLines[i]) + " 行："_gbk +
                            refused_offer_id_note(row.offerId) + "\r\n");
        }
    }
    return kept;
}

ListCommandResult export_list(const ProductList& list, std::string_view gbk_path) {
    // One snapshot, so a run changing the list meanwhile cannot tear the file.
    const std::vector<ProductEntry> rows = list.rows();
    if (rows.empty()) return {};
    if (!write_list_file(gbk_path, rows)) {
        return {false, "宝贝列表导出失败！请检查保存路径是否可写！"_gbk, "提示"_gbk};
    }
    return {true, "宝贝列表已经成功导出！"_gbk, "信息："_gbk};
}

ListCommandResult import_list(ProductList& list, std::string_view gbk_path, LogSink* log,
                              const Clock* clock, ImportMode mode) {
    ListFileRead read = read_list_file_contents(gbk_path, true);
    if (!read.ok()) {
        return {false, "宝贝列表导入失败！无法读取该文件，原列表未改动！"_gbk, "温馨提示："_gbk};
    }
    const auto stamp = [clock] { return log_time_stamp(clock ? *clock : system_clock()); };
    if (read.wasUtf8 && log) {
        log->append_log(stamp() + "  列表文件是 UTF-8 编码，已按 UTF-8 读取："_gbk +
                        std::string(gbk_path) + "\r\n");
    }
    ListContents& contents = read.contents;
    std::vector<int> unreadable = contents.unreadableLines;
    std::vector<ProductEntry> rows;
    for (std::size_t i = 0; i < contents.rows.size(); ++i) {
        if (is_offer_id(contents.rows[i].offerId)) {
            rows.push_back(std::move(contents.rows[i]));
            continue;
        }
        unreadable.push_back(contents.rowLines[i]);
        if (log) {
            log->append_log(stamp() + "  列表文件第 "_gbk + std::to_string(contents.rowLines[i]) +
                            " 行："_gbk + refused_offer_id_note(contents.rows[i].offerId) + "\r\n");
        }
    }
    std::sort(unreadable.begin(), unreadable.end());
    std::string lines;
    constexpr std::size_t kMostNamed = 5;
    for (std::size_t i = 0; i < unreadable.size() && i < kMostNamed; ++i) {
        lines += (i == 0 ? "（第 "_gbk : "、"_gbk) + std::to_string(unreadable[i]);
    }
    if (!lines.empty()) lines += unreadable.size() > kMostNamed ? " 行等）"_gbk : " 行）"_gbk;
    const std::string read_text = "导入 "_gbk + std::to_string(rows.size()) + " 个宝贝，"_gbk +
                                  std::to_string(unreadable.size()) + " 行无法识别"_gbk + lines;
    if (rows.empty()) {
        // A file that is no list must not empty the one the user has.
        return {false, read_text + "。文件里没有可用的宝贝，原列表未改动！"_gbk, "温馨提示："_gbk};
    }
    std::string added;
    if (mode == ImportMode::Add) {
        const int repeated = list.append_new_rows(std::move(rows));
        if (repeated > 0) added = "，"_gbk + std::to_string(repeated) + " 个重复的宝贝未添加"_gbk;
    } else {
        list.replace_all(std::move(rows));
    }
    return {true, read_text + added + "。"_gbk, "温馨提示："_gbk};
}

void delete_selected(ProductList& list, const std::vector<int>& positions) {
    // By position, not by title: rows that share a title with a selected one stay.
    list.delete_rows(positions);
}

}  // namespace vq
