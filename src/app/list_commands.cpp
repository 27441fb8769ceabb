#include "app/list_commands.hpp"

#include "model/list_file.hpp"
#include "support/gbk_literal.hpp"

namespace vq {

ListCommandResult export_list(const ProductList& list, std::string_view gbk_path) {
    // One snapshot, so a run changing the list meanwhile cannot tear the file.
    const std::vector<ProductEntry> rows = list.rows();
    if (rows.empty()) return {};
    if (!write_list_file(gbk_path, rows)) {
        return {false, "宝贝列表导出失败！请检查保存路径是否可写！"_gbk, "提示"_gbk};
    }
    return {true, "宝贝列表已经成功导出！"_gbk, "信息："_gbk};
}

ListCommandResult import_list(ProductList& list, std::string_view gbk_path) {
    std::optional<std::vector<ProductEntry>> rows = read_list_file(gbk_path);
    if (!rows) {
        return {false, "宝贝列表导入失败！无法读取该文件，原列表未改动！"_gbk, "温馨提示："_gbk};
    }
    // A readable file without a single row still replaces the list: that is what it holds.
    list.replace_all(std::move(*rows));
    return {true, "已经成功导入宝贝列表！"_gbk, "温馨提示："_gbk};
}

void delete_selected(ProductList& list, const std::vector<int>& positions) {
    // By position, not by title: rows that share a title with a selected one stay.
    list.delete_rows(positions);
}

}  // namespace vq
