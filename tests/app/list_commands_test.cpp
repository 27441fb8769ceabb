#include "app/list_commands.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "product_rows.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

namespace fs = std::filesystem;

using vqtest::expect_rows;
using vqtest::row;

std::vector<std::string> titles(const ProductList& list) {
    std::vector<std::string> out;
    for (const ProductEntry& entry : list.rows()) out.push_back(entry.title);
    return out;
}

std::vector<std::string> folder_entries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes beyond this many bytes fail with EFBIG while it lives. Root ignores file
// modes, but not this limit, so it stands in for a disk that refuses the write.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_limit_);
        rlimit limit = old_limit_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_limit_);
        ::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_limit_{};
    sighandler_t old_handler_{};
};

class ListCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-listcmd-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }

    const std::vector<ProductEntry> sample_ = {
        row("连衣裙 女装"_gbk, "520001", "001.50", "http://detail.example/offer/520001.html"),
        row("", "520002", "8", "http://detail.example/offer/520002.html"),
        row("晐T恤"_gbk, "520003", "12.00", "http://detail.example/offer/520003.html"),
    };
    std::string dir_;
};

// The log lines a command wrote.
class LoggedLines final : public LogSink {
public:
    void append_log(std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

TEST_F(ListCommandsTest, ExportThenImportReplacesTheListWithTheSameRows) {
    ProductList source;
    source.append_rows(sample_);
    const std::string path = dir_ + "/" + "宝贝列表"_gbk + ".txt";

    const ListCommandResult exported = export_list(source, path);
    EXPECT_TRUE(exported.ok);
    EXPECT_EQ(exported.message, "宝贝列表已经成功导出！"_gbk);
    EXPECT_EQ(exported.title, "信息："_gbk);

    ProductList target;
    target.append_row(row("old", "1", "1", "http://old/1"));
    int changes = 0;
    target.set_change_callback([&] { ++changes; });
    const ListCommandResult imported = import_list(target, path);
    EXPECT_TRUE(imported.ok);
    EXPECT_EQ(imported.message,
              "导入 "_gbk + std::to_string(sample_.size()) + " 个宝贝，0 行无法识别。"_gbk);
    EXPECT_EQ(imported.title, "温馨提示："_gbk);
    expect_rows(target.rows(), sample_);
    EXPECT_GE(changes, 1);  // the row count label follows the change callback
}

TEST_F(ListCommandsTest, ExportingAnEmptyListSaysNothingAndLeavesTheFile) {
    const std::string path = dir_ + "/list.txt";
    ASSERT_TRUE(write_file_atomic(path, "keep me"));
    const ListCommandResult result = export_list(ProductList{}, path);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(read_file_bytes(path), "keep me");
    EXPECT_EQ(export_list(ProductList{}, dir_ + "/new.txt").message, "");
    EXPECT_FALSE(file_exists(dir_ + "/new.txt"));
}

TEST_F(ListCommandsTest, FailedExportIsReportedAndKeepsTheOldFile) {
    ProductList list;
    list.append_rows(sample_);
    const std::string path = dir_ + "/list.txt";
    ASSERT_TRUE(write_file_atomic(path, "old list"));

    ListCommandResult refused;
    {
        const FileSizeLimit limit(16);  // well below the list text
        refused = export_list(list, path);
    }
    const ListCommandResult missing_folder = export_list(list, dir_ + "/no/such/list.txt");

    for (const ListCommandResult& result : {refused, missing_folder}) {
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, "宝贝列表导出失败！请检查保存路径是否可写！"_gbk);
        EXPECT_EQ(result.title, "提示"_gbk);
    }
    EXPECT_EQ(read_file_bytes(path), "old list");
    EXPECT_EQ(folder_entries(dir_), std::vector<std::string>{"list.txt"});
}

TEST_F(ListCommandsTest, UnreadableImportKeepsTheList) {
    fs::create_directory(dir_ + "/folder.txt");
    for (const std::string& path : {dir_ + "/missing.txt", dir_ + "/folder.txt"}) {
        SCOPED_TRACE(path);
        ProductList list;
        list.append_rows(sample_);
        const ListCommandResult result = import_list(list, path);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, "宝贝列表导入失败！无法读取该文件，原列表未改动！"_gbk);
        EXPECT_EQ(result.title, "温馨提示："_gbk);
        expect_rows(list.rows(), sample_);
    }
}

TEST_F(ListCommandsTest, ImportKeepsOnlyRowLines) {
    const std::string path = dir_ + "/list.txt";
    ASSERT_TRUE(write_file_atomic(path, "宝贝列表 共2个"_gbk + "\r\n\r\n" +
                                            "A||1||2||http://x/1\r\n" +
                                            "   \r\n" +
                                            "B||3||4||http://x/3\r\n\r\n"));
    ProductList list;
    list.append_rows(sample_);
    const ListCommandResult read = import_list(list, path);
    EXPECT_TRUE(read.ok);
    EXPECT_EQ(read.message, "导入 2 个宝贝，1 行无法识别（第 1 行）。"_gbk);
    expect_rows(list.rows(), {row("A", "1", "2", "http://x/1"), row("B", "3", "4", "http://x/3")});

    // A file that is no list, or holds nothing, must not empty the list the user has.
    for (const std::string& text : {std::string("this is not a list\r\n"), std::string()}) {
        ASSERT_TRUE(write_file_atomic(path, text));
        const ListCommandResult refused = import_list(list, path);
        EXPECT_FALSE(refused.ok);
        EXPECT_TRUE(refused.message.ends_with("文件里没有可用的宝贝，原列表未改动！"_gbk));
        EXPECT_EQ(list.row_count(), 2);
    }
}

// A list saved as UTF-8 is read as UTF-8 (and said so); added to a list, it skips the ids
// the list holds already.
TEST_F(ListCommandsTest, ImportReadsUtf8AndAddsWithoutRepeats) {
    LoggedLines log;
    const std::string path = dir_ + "/utf8.txt";
    ASSERT_TRUE(write_file_atomic(path, "连衣裙||520001||1.00||http://x/1\r\n"
                                        "新款T恤||7||2||http://x/7\r\n"
                                        "黑色皮鞋||8||3||http://x/8\r\n"));
    ProductList list;
    list.append_rows(sample_);
    const ListCommandResult added = import_list(list, path, &log, nullptr, ImportMode::Add);
    EXPECT_TRUE(added.ok);
    EXPECT_EQ(added.message, "导入 3 个宝贝，0 行无法识别，1 个重复的宝贝未添加。"_gbk);
    ASSERT_EQ(list.row_count(), static_cast<int>(sample_.size()) + 2);
    EXPECT_EQ(list.row(static_cast<int>(sample_.size())).title, "新款T恤"_gbk);
    EXPECT_EQ(list.row(static_cast<int>(sample_.size()) + 1).title, "黑色皮鞋"_gbk);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_TRUE(log.lines[0].ends_with("  列表文件是 UTF-8 编码，已按 UTF-8 读取："_gbk + path + "\r\n"));
}

// An offer id goes unencoded into the signed gateway request: a row whose id is not
// digits is left out on import, and the log names its line.
TEST_F(ListCommandsTest, ImportLeavesOutRowsWhoseIdIsNotDigits) {
    LoggedLines log;
    const std::string path = dir_ + "/list.txt";
    ASSERT_TRUE(write_file_atomic(path, "A||1&_aop_signature=FORGED&x||2||http://x/1\r\n"
                                        "B||3||4||http://x/3\r\n"
                                        "C||5#6||4||http://x/5\r\n"));
    ProductList list;
    EXPECT_TRUE(import_list(list, path, &log).ok);
    expect_rows(list.rows(), {row("B", "3", "4", "http://x/3")});
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_TRUE(log.lines[0].ends_with(
        "  列表文件第 1 行：宝贝ID不是数字，已跳过：1&_aop_signature=FORGED&x\r\n"_gbk));
    EXPECT_TRUE(log.lines[1].ends_with("  列表文件第 3 行：宝贝ID不是数字，已跳过：5#6\r\n"_gbk));
}

TEST(DeleteSelected, RemovesExactlyTheRowsAtThePositions) {
    // An unselected "a" above two selected "A" rows: matching by title would take it.
    struct Case {
        std::vector<int> positions;
        std::vector<std::string> left;
    };
    const std::vector<Case> cases = {
        {{1, 2}, {"a", "B"}},
        {{2, 1, 2, -1, 4, 99}, {"a", "B"}},
        {{3, 0}, {"A", "A"}},
        {{}, {"a", "A", "A", "B"}},
        {{4}, {"a", "A", "A", "B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.positions));
        ProductList list;
        for (const char* title : {"a", "A", "A", "B"}) list.append_row(row(title, "1", "2", "3"));
        delete_selected(list, c.positions);
        EXPECT_EQ(titles(list), c.left);
    }
}

}  // namespace
}  // namespace vq
