#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/list_commands.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

namespace fs = std::filesystem;

ProductEntry row(std::string title, std::string offerId, std::string price, std::string address) {
    return {std::move(title), std::move(price), std::move(address), std::move(offerId)};
}

// One part of the workbook's zip, through the unzip program.
std::string workbook_part(const std::string& native_file, const std::string& part) {
    const std::string command = "unzip -p '" + native_file + "' " + part;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    std::string out;
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    ::pclose(pipe);
    return out;
}

// The value of attribute name inside one tag's text, or empty.
std::string attribute(std::string_view tag, std::string_view name) {
    const std::string key = " " + std::string(name) + "=\"";
    const std::size_t at = tag.find(key);
    if (at == std::string_view::npos) return {};
    const std::size_t start = at + key.size();
    return std::string(tag.substr(start, tag.find('"', start) - start));
}

// The texts of the elements named element, in order (their bodies, tags excluded).
std::vector<std::string> element_tags(std::string_view xml, std::string_view element) {
    std::vector<std::string> tags;
    const std::string open = "<" + std::string(element) + " ";
    for (std::size_t at = xml.find(open); at != std::string_view::npos; at = xml.find(open, at + 1)) {
        tags.emplace_back(xml.substr(at, xml.find('>', at) + 1 - at));
    }
    return tags;
}

std::string text_between(std::string_view xml, std::string_view from, std::string_view to) {
    const std::size_t start = xml.find(from);
    if (start == std::string_view::npos) return {};
    const std::size_t end = xml.find(to, start);
    return std::string(xml.substr(start, end - start));
}

struct Cell {
    std::string text;          // UTF-8, as the spreadsheet program shows it
    bool string_cell = false;  // t="s"
    std::string numberFormat;  // the format code of its style
};

// The workbook's first sheet as cell name -> cell, read from the parts libxlsxwriter
// writes (shared strings, one style table).
std::map<std::string, Cell> read_sheet(const std::string& native_file) {
    const std::string sheet = workbook_part(native_file, "xl/worksheets/sheet1.xml");
    const std::string strings = workbook_part(native_file, "xl/sharedStrings.xml");
    const std::string styles = workbook_part(native_file, "xl/styles.xml");

    std::vector<std::string> shared;
    for (std::size_t at = strings.find("<si>"); at != std::string::npos;
         at = strings.find("<si>", at + 1)) {
        const std::size_t start = strings.find('>', strings.find("<t", at)) + 1;
        shared.push_back(strings.substr(start, strings.find("</t>", start) - start));
    }
    std::map<std::string, std::string> formats = {{"0", "General"}, {"49", "@"}};
    for (const std::string& tag : element_tags(styles, "numFmt")) {
        formats[attribute(tag, "numFmtId")] = attribute(tag, "formatCode");
    }
    std::vector<std::string> style_formats;
    for (const std::string& tag :
         element_tags(text_between(styles, "<cellXfs", "</cellXfs>"), "xf")) {
        style_formats.push_back(formats[attribute(tag, "numFmtId")]);
    }

    std::map<std::string, Cell> cells;
    for (std::size_t at = sheet.find("<c "); at != std::string::npos; at = sheet.find("<c ", at + 1)) {
        const std::string tag = sheet.substr(at, sheet.find('>', at) + 1 - at);
        Cell cell;
        cell.string_cell = attribute(tag, "t") == "s";
        const std::size_t style = std::strtoul(attribute(tag, "s").c_str(), nullptr, 10);
        if (style < style_formats.size()) cell.numberFormat = style_formats[style];
        if (cell.string_cell) {
            const std::string value = text_between(sheet.substr(at), "<v>", "</v>").substr(3);
            cell.text = shared.at(std::stoul(value));
        }
        cells[attribute(tag, "r")] = cell;
    }
    return cells;
}

std::vector<std::string> folder_entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class SpreadsheetExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-sheet-XXXXXX";
        dir_ = mkdtemp(tmpl);
        // A Chinese folder name: the path must reach the file system as UTF-8.
        folder_ = dir_ + "/" + "程序"_gbk;
        ASSERT_TRUE(make_directory(folder_));
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
    std::string folder_;  // GBK
};

TEST_F(SpreadsheetExportTest, WritesHeadersAndRowsAsTextCells) {
    ASSERT_TRUE(write_file_atomic(spreadsheet_path(folder_), "an older workbook"));
    const std::vector<ProductEntry> rows = {
        row("连衣裙 女装"_gbk, "987654321", "001.50", "http://detail.example/offer/1.html"),
        row("T", "987654322", "12345678901234567890", "http://detail.example/offer/2.html"),
        row("空价格"_gbk, "987654323", "", "http://detail.example/offer/3.html"),
    };
    const SpreadsheetResult result = write_list_spreadsheet(rows, folder_);
    ASSERT_TRUE(result.ok) << gbk_to_utf8(result.message);
    EXPECT_EQ(result.path, folder_ + "/temp.xlsx");
    EXPECT_EQ(folder_entries(native_path(folder_)), std::vector<std::string>{"temp.xlsx"});

    // The offer id has no column; an empty price is a blank cell that keeps the text
    // format (libxlsxwriter writes no empty strings), so typing into it stays text.
    const std::map<std::string, std::string> want = {
        {"A1", "宝贝名称"}, {"B1", "宝贝价格"}, {"C1", "宝贝地址"},
        {"A2", "连衣裙 女装"}, {"B2", "001.50"}, {"C2", "http://detail.example/offer/1.html"},
        {"A3", "T"}, {"B3", "12345678901234567890"}, {"C3", "http://detail.example/offer/2.html"},
        {"A4", "空价格"}, {"B4", ""}, {"C4", "http://detail.example/offer/3.html"},
    };
    const std::map<std::string, Cell> cells = read_sheet(native_path(result.path));
    ASSERT_EQ(cells.size(), want.size());
    for (const auto& [name, text] : want) {
        SCOPED_TRACE(name);
        ASSERT_EQ(cells.count(name), 1u);
        const Cell& cell = cells.at(name);
        EXPECT_EQ(cell.text, text);
        EXPECT_EQ(cell.string_cell, !text.empty());
        EXPECT_EQ(cell.numberFormat, "@");
    }
}

TEST_F(SpreadsheetExportTest, OverlongTextIsCutToTheCellLimitAtACharacter) {
    std::string title;
    for (int i = 0; i < 32770; ++i) title += "中"_gbk;
    const SpreadsheetResult result =
        write_list_spreadsheet({row(title, "1", "2", "http://x/1")}, folder_);
    ASSERT_TRUE(result.ok);
    std::string want;
    for (int i = 0; i < 32767; ++i) want += "中";
    const std::map<std::string, Cell> cells = read_sheet(native_path(result.path));
    ASSERT_EQ(cells.count("A2"), 1u);
    EXPECT_EQ(cells.at("A2").text, want);
    EXPECT_EQ(cells.at("C2").text, "http://x/1");
}

TEST_F(SpreadsheetExportTest, UnwritableFolderIsReportedWithoutLeftovers) {
    // A folder that does not exist, and a "temp.xlsx" that cannot be replaced (a folder
    // with content) so the rename after a complete workbook fails.
    const std::string blocked = folder_ + "/blocked";
    ASSERT_TRUE(make_directory(blocked));
    ASSERT_TRUE(make_directory(blocked + "/temp.xlsx"));
    ASSERT_TRUE(write_file_atomic(blocked + "/temp.xlsx/x", "x"));

    for (const std::string& folder : {folder_ + "/missing", blocked}) {
        SCOPED_TRACE(gbk_to_utf8(folder));
        const SpreadsheetResult result =
            write_list_spreadsheet({row("A", "1", "2", "http://x/1")}, folder);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, "宝贝列表表格保存失败！请检查程序目录是否可写！"_gbk);
        EXPECT_EQ(result.title, "提示"_gbk);
    }
    EXPECT_EQ(folder_entries(native_path(folder_)), std::vector<std::string>{"blocked"});
    EXPECT_EQ(folder_entries(native_path(blocked)), std::vector<std::string>{"temp.xlsx"});
}

TEST(SpreadsheetPath, NoDoubledSeparator) {
    EXPECT_EQ(spreadsheet_path("/opt/vq"), "/opt/vq/temp.xlsx");
    EXPECT_EQ(spreadsheet_path("/opt/vq/"), "/opt/vq/temp.xlsx");
}

}  // namespace
}  // namespace vq
