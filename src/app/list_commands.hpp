#pragma once
// The user's hand tools on the product list: export to and import from a list file,
// removing the selected rows, and the spreadsheet of the list. The front end asks for the
// file names and shows the returned message; nothing here talks to the user itself.

#include <string>
#include <string_view>
#include <vector>

#include "model/batch_model.hpp"
#include "model/list_file.hpp"
#include "model/product_list.hpp"

namespace vq {

// What a command tells the user: a message box, or nothing when message is empty.
struct ListCommandResult {
    bool ok = true;
    std::string message;  // GBK
    std::string title;    // message box title, GBK
};

// "导出列表": writes every row to gbk_path in the list-file format, through a temporary
// file renamed into place. A list without rows writes nothing and says nothing. A failed
// write is reported as a failure; the old file stays as it was.
ListCommandResult export_list(const ProductList& list, std::string_view gbk_path);

// "导入列表": reads the file first and only then replaces the rows with its four-piece
// lines, or adds them after the list's own (ids the list holds already left out). A file
// saved as UTF-8 is read as such, with a log line. The message says what was read: "导入 N
// 个宝贝，M 行无法识别" and the first such lines. A file that cannot be read (also one that
// is no regular file or too large) or holds no usable row leaves the list as it was and
// says so. A row whose offer id is not decimal digits is left out, with a line in log (when
// given) naming its file line.
enum class ImportMode { Replace, Add };
ListCommandResult import_list(ProductList& list, std::string_view gbk_path,
                              LogSink* log = nullptr, const Clock* clock = nullptr,
                              ImportMode mode = ImportMode::Replace);

// The rows of a read list whose offer ids are decimal digits; each other row is logged
// (when log is given) with its file line, and left out.
std::vector<ProductEntry> take_offer_rows(ListContents& contents, LogSink* log,
                                          const Clock* clock = nullptr);

// "删除选中宝贝": removes exactly the rows at these 0-based positions (any order; repeats
// and positions outside the list are ignored).
void delete_selected(ProductList& list, const std::vector<int>& positions);

// program_folder + "/temp.xlsx" (no doubled "/" when the folder ends with one).
std::string spreadsheet_path(std::string_view program_folder);

struct SpreadsheetResult {
    bool ok = false;
    std::string path;     // GBK; the workbook to open when ok
    std::string message;  // GBK; the failure to show when not ok
    std::string title;
};

// "用EXCEL打开宝贝列表": a workbook with the header cells "宝贝名称", "宝贝价格", "宝贝地址" and
// one row per list row (title, price, address), every cell a text cell (number format
// "@"), saved as spreadsheet_path(program_folder) through a temporary file and a rename.
// The front end opens it with the desktop's handler.
SpreadsheetResult write_list_spreadsheet(const std::vector<ProductEntry>& rows,
                                         std::string_view program_folder);

}  // namespace vq
