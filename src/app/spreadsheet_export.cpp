#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <cstdint>
#include <exception>

#include "app/list_commands.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

// Excel's own limit on the characters of one cell; libxlsxwriter refuses longer text.
constexpr std::size_t kCellCharacterLimit = 32767;
// The built-in number format "@" (text), so prices and ids are never read as numbers.
constexpr std::uint8_t kTextNumberFormat = 49;

// The UTF-8 text cut to at most limit characters, never inside one. GBK holds no
// characters outside the BMP, so characters here are also Excel's UTF-16 units.
std::string cut_to_characters(std::string text, std::size_t limit) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (characters == limit) {
            text.resize(i);
            break;
        }
        ++characters;
    }
    return text;
}

bool write_workbook(const std::string& native_file, const std::vector<ProductEntry>& rows) {
    lxw_workbook* workbook = workbook_new(native_file.c_str());
    if (workbook == nullptr) return false;
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    lxw_format* text_format = workbook_add_format(workbook);
    bool ok = sheet != nullptr && text_format != nullptr;
    if (ok) format_set_num_format_index(text_format, kTextNumberFormat);

    const auto put = [&](lxw_row_t row, lxw_col_t column, std::string_view gbk) {
        if (!ok) return;
        const std::string cell = cut_to_characters(gbk_to_utf8(gbk), kCellCharacterLimit);
        ok = worksheet_write_string(sheet, row, column, cell.c_str(), text_format) ==
             LXW_NO_ERROR;
    };
    put(0, 0, "宝贝名称"_gbk);
    put(0, 1, "宝贝价格"_gbk);
    put(0, 2, "宝贝地址"_gbk);
    lxw_row_t row = 1;
    for (const ProductEntry& entry : rows) {
        if (!ok) break;
        put(row, 0, entry.title);
        put(row, 1, entry.price);
        put(row, 2, entry.address);
        ++row;
    }
    // workbook_close also frees the workbook, so it runs on failure too.
    const bool closed = workbook_close(workbook) == LXW_NO_ERROR;
    return ok && closed;
}

SpreadsheetResult failure() {
    SpreadsheetResult result;
    result.message = "宝贝列表表格保存失败！请检查程序目录是否可写！"_gbk;
    result.title = "提示"_gbk;
    return result;
}

}  // namespace

std::string spreadsheet_path(std::string_view program_folder) {
    std::string path(program_folder);
    if (!path.empty() && path.back() == '/') path.pop_back();
    return path + "/temp.xlsx";
}

SpreadsheetResult write_list_spreadsheet(const std::vector<ProductEntry>& rows,
                                         std::string_view program_folder) {
    const std::string path = spreadsheet_path(program_folder);
    const std::string target = native_path(path);
    // The workbook is built beside the target and renamed over it, so the spreadsheet
    // program showing the previous one never sees half a file.
    std::string temp = target + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return failure();
    // mkstemp makes owner-only files; the workbook is an ordinary document. libxlsxwriter
    // opens the file by name itself, so ours only reserves the name.
    ::fchmod(fd, 0644);
    ::close(fd);

    bool written = false;
    try {
        written = write_workbook(temp, rows) && ::rename(temp.c_str(), target.c_str()) == 0;
    } catch (const std::exception&) {
        written = false;
    }
    if (!written) {
        ::unlink(temp.c_str());
        return failure();
    }
    SpreadsheetResult result;
    result.ok = true;
    result.path = path;
    return result;
}

}  // namespace vq
