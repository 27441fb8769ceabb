#include "app/list_commands.hpp"

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
                              const Clock* clock) {
    ListFileRead read = read_list_file_contents(gbk_path);
    if (!read.ok()) {
        return {false, "宝贝列表导入失败！无法读取该文件，原列表未改动！"_gbk, "温馨提示："_gbk};
    }
    // A readable file without a single row still replaces the list: that is what it holds.
    list.replace_all(take_offer_rows(read.contents, log, clock));
    return {true, "已经成功导入宝贝列表！"_gbk, "温馨提示："_gbk};
}

void delete_selected(ProductList& list, const std::vector<int>& positions) {
    // By position, not by title: rows that share a title with a selected one stay.
    list.delete_rows(positions);
}

}  // namespace vq
