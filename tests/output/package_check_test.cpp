#include "output/package_check.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "output/package_writer.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"

using namespace vq;
namespace fs = std::filesystem;

namespace {

const std::string kJpg("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01 picture", 20);

// A package of three products on disk: main pictures, one local description picture and
// one description picture left at its web address.
class PackageCheckTest : public ::testing::Test {
public:  // the damage table reaches in
    void SetUp() override {
        char tmpl[] = "/tmp/vq-check-XXXXXX";
        dir_ = mkdtemp(tmpl);
        folder_ = dir_ + "/pkg";
        table_ = dir_ + "/pkg.csv";
        ASSERT_TRUE(make_directory(folder_));
        ASSERT_TRUE(make_directory(folder_ + "/sub"));
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string picture(const std::string& name) const {
        return folder_ + "/" + name + std::string(main_picture_extension(format_));
    }

    // Rows for the products; mutate changes records before they are written.
    void write_package(const std::function<void(std::vector<OfferRecord>&)>& mutate = {}) {
        std::vector<OfferRecord> records;
        for (int p = 1; p <= 3; ++p) {
            OfferRecord r;
            r.offerId = std::to_string(p);
            r.title = "宝贝"_gbk + std::to_string(p);
            for (int k = 0; k < 2; ++k) {
                const std::string name = "p" + std::to_string(p) + "k" + std::to_string(k);
                r.mainPictures.push_back(name);
                EXPECT_TRUE(write_file_atomic(picture(name), kJpg));
            }
            records.push_back(r);
        }
        const std::string local = folder_ + "/sub/d.jpg";
        ASSERT_TRUE(write_file_atomic(local, kJpg));
        records[0].description = "<img src=\"file://" + local +
                                 "\"><IMG src=\"http://img.example/x.jpg\">";
        if (mutate) mutate(records);
        std::string rows;
        for (const OfferRecord& r : records) rows += build_package_row(r, format_);
        ASSERT_TRUE(write_file_atomic(table_, package_file_bytes(format_, rows)));
    }

    PackageCheck check() const { return check_package(table_, folder_); }

    std::string dir_, folder_, table_;
    PackageFormat format_ = PackageFormat::Taobao;
};

TEST_F(PackageCheckTest, AWholePackageIsCleanAndCounted) {
    for (const PackageFormat format : {PackageFormat::Taobao, PackageFormat::Alibaba, PackageFormat::TaobaoToday}) {
        SCOPED_TRACE(format_number(format));
        format_ = format;
        write_package();
        const PackageCheck c = check();
        EXPECT_TRUE(c.clean());
        EXPECT_EQ(c.format, format_number(format));
        EXPECT_TRUE(c.problems.empty()) << gbk_to_utf8(c.problems.front());
        EXPECT_EQ(c.rows, 3);
        EXPECT_EQ(c.mainPictures, 6);
        EXPECT_EQ(c.localPictures, 1);
        EXPECT_EQ(c.remotePictures, 1);  // counted, not a problem
        EXPECT_EQ(c.summary,
                  "检查：宝贝 3 个，主图 6 张，本地描述图片 1 张，网络图片地址 1 个，问题 0 个"_gbk);
    }
}

// A title over 60 GBK bytes is a warning, not a problem: 30 Chinese characters pass, 31 do
// not, whatever the format.
TEST_F(PackageCheckTest, LongTitlesAreWarnedOfNotCountedAsProblems) {
    std::string thirty;
    for (int i = 0; i < 30; ++i) thirty += "宝"_gbk;
    for (const PackageFormat format : {PackageFormat::Taobao, PackageFormat::Alibaba, PackageFormat::TaobaoToday}) {
        SCOPED_TRACE(format_number(format));
        format_ = format;
        write_package([&thirty](std::vector<OfferRecord>& records) {
            records[0].title = thirty;
            records[2].title = thirty + "a";
        });
        const PackageCheck c = check();
        EXPECT_TRUE(c.clean());
        EXPECT_EQ(c.summary,
                  "检查：宝贝 3 个，主图 6 张，本地描述图片 1 张，网络图片地址 1 个，问题 0 个"_gbk);
        ASSERT_EQ(c.warnings.size(), 1u);
        EXPECT_EQ(c.warnings[0], "提醒：第 3 行「"_gbk + thirty +
                                     "a」：标题 61 字节，超过 60 字节（30 个汉字）的上限"_gbk);
        EXPECT_EQ(c.warningSummary, "提醒：标题超过 60 字节的宝贝 1 个"_gbk);
    }
    write_package();
    EXPECT_TRUE(check().warnings.empty());
    EXPECT_EQ(check().warningSummary, "");
}

// Each fault gives one line naming the row's title and the picture.
TEST_F(PackageCheckTest, EveryFaultIsNamedWithItsRowAndPicture) {
    struct Case {
        const char* what;
        std::function<void(PackageCheckTest&)> damage;
        std::string line;  // UTF-8
    } cases[] = {
        {"missing", [](PackageCheckTest& t) { fs::remove(t.picture("p2k1")); },
         "第 2 行「宝贝2」：主图 p2k1.tbi 不存在"},
        {"empty", [](PackageCheckTest& t) { write_file_atomic(t.picture("p1k0"), ""); },
         "第 1 行「宝贝1」：主图 p1k0.tbi 是空文件"},
        {"error page",
         [](PackageCheckTest& t) { write_file_atomic(t.picture("p3k0"), "<html>404</html>"); },
         "第 3 行「宝贝3」：主图 p3k0.tbi 不是图片（开头字节 3C68746D6C）"},
        {"named twice",
         [](PackageCheckTest& t) {
             t.write_package([](std::vector<OfferRecord>& r) {
                 r[2].mainPictures = {"p1k1"};
             });
         },
         "第 3 行「宝贝3」：主图 p1k1 与第 1 行的主图同名"},
        {"offer id twice",
         [](PackageCheckTest& t) {
             t.write_package([](std::vector<OfferRecord>& r) { r[2].offerId = "1"; });
         },
         "第 3 行「宝贝3」：宝贝ID 1 与第 1 行重复"},
        {"no main picture",
         [](PackageCheckTest& t) {
             t.write_package([](std::vector<OfferRecord>& r) { r[1].mainPictures.clear(); });
         },
         "第 2 行「宝贝2」：没有主图"},
        {"description picture",
         [](PackageCheckTest& t) { fs::remove(t.folder_ + "/sub/d.jpg"); },
         "第 1 行「宝贝1」：描述图片 <folder>/sub/d.jpg 不存在"},
        {"positions",
         [](PackageCheckTest& t) {
             t.write_package();
             std::string bytes = *read_file_bytes(t.table_);
             bytes.replace(bytes.find("p2k1:1:1:"), 9, "p2k1:1:2:");
             write_file_atomic(t.table_, bytes);
         },
         "第 2 行「宝贝2」：主图列表项不对：“p2k1:1:2”"},
        {"field count",
         [](PackageCheckTest& t) {
             t.write_package([](std::vector<OfferRecord>& r) { r[0].amount = "1"; });
             std::string bytes = *read_file_bytes(t.table_);
             bytes.replace(bytes.find(",0,1,"), 5, ",0,1,,");
             write_file_atomic(t.table_, bytes);
         },
         "第 1 行「宝贝1」：有 49 个字段，应为 48 个"},
        {"header",
         [](PackageCheckTest& t) {
             std::string bytes = *read_file_bytes(t.table_);
             bytes.replace(bytes.find("title,cid"), 9, "title;cid");
             write_file_atomic(t.table_, bytes);
         },
         "表头：与格式 5 的表头不符"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_package();
        c.damage(*this);
        const PackageCheck result = check();
        EXPECT_TRUE(result.readable);
        EXPECT_FALSE(result.clean());
        const std::string expected = replace_all(c.line, "<folder>", folder_);
        ASSERT_EQ(result.problems.size(), 1u);
        EXPECT_EQ(gbk_to_utf8(result.problems[0]), expected);
        EXPECT_TRUE(result.summary.ends_with("问题 1 个"_gbk));
    }
    // The 1688 table holds the id in its first column.
    format_ = PackageFormat::Alibaba;
    write_package([](std::vector<OfferRecord>& r) { r[1].offerId = "3"; });
    const PackageCheck repeated = check();
    ASSERT_EQ(repeated.problems.size(), 1u);
    EXPECT_EQ(gbk_to_utf8(repeated.problems[0]), "第 3 行「宝贝3」：宝贝ID 3 与第 2 行重复");
}

// A strict reader refuses the whole file at a byte its encoding cannot read: the check
// names the first such byte by its row, offset and line.
TEST_F(PackageCheckTest, ABytePastItsEncodingIsAProblem) {
    const std::string two = "宝贝2"_gbk, three = "宝贝3"_gbk;
    struct Case {
        PackageFormat format;
        std::function<std::size_t(std::string&)> damage;  // returns the offset damaged
        std::string line;                                  // UTF-8, <at> for the offset
    } cases[] = {
        {PackageFormat::Taobao, [&](std::string& b) {
             const std::size_t at = b.find(two) + 4;
             b[at] = '\xFF';
             return at;
         },
         "第 2 行「宝贝?」：文件偏移 <at> 处的 FF 不是有效的 GBK 文字（文件第 5 行）"},
        {PackageFormat::Taobao, [&](std::string& b) { const std::size_t at = b.find("title"); b[at] = '\xFF'; return at; },
         "表头：文件偏移 <at> 处的 FF 不是有效的 GBK 文字（文件第 2 行）"},
        {PackageFormat::Alibaba, [&](std::string& b) {
             const std::size_t at = b.find(gbk_to_utf16le(three).substr(0, 6)) + 4;
             b.replace(at, 2, std::string("\x00\xD8", 2));
             return at;
         },
         "第 3 行「宝贝?」：文件偏移 <at> 处的 00 D8 不是有效的 UTF-16 文字（文件第 6 行）"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        format_ = c.format;
        write_package();
        std::string bytes = *read_file_bytes(table_);
        const std::size_t at = c.damage(bytes);
        ASSERT_TRUE(write_file_atomic(table_, bytes));
        const PackageCheck result = check();
        EXPECT_TRUE(result.readable);
        // The header case also breaks the header's bytes; the byte comes last.
        ASSERT_EQ(result.problems.size(), c.line.starts_with("表头") ? 2u : 1u);
        EXPECT_EQ(gbk_to_utf8(result.problems.back()), replace_all(c.line, "<at>", std::to_string(at)));
    }
    // The euro sign is 0x80 in the code page the seller assistant reads.
    format_ = PackageFormat::Taobao;
    write_package([](std::vector<OfferRecord>& r) { r[0].title = "\x80 10"; });
    EXPECT_TRUE(check().clean());
}

// A local description picture counts only as a regular file inside the package folder:
// the table travels with that folder, and an address may name any file on the machine.
TEST_F(PackageCheckTest, ALocalPictureOutsideThePackageFolderIsAProblem) {
    ASSERT_TRUE(write_file_atomic(dir_ + "/outside.jpg", kJpg));
    fs::create_symlink(dir_ + "/outside.jpg", folder_ + "/sub/link.jpg");
    ASSERT_EQ(::mkfifo((folder_ + "/sub/fifo.jpg").c_str(), 0600), 0);
    fs::create_directory_symlink(dir_, folder_ + "/sub/up");
    const struct {
        std::string path, line;
    } cases[] = {
        {folder_ + "/sub/up/outside.jpg", "描述图片 " + folder_ + "/sub/up/outside.jpg 不在数据包的图片文件夹里"},
        {"/etc/passwd", "描述图片 /etc/passwd 不在数据包的图片文件夹里"},
        {folder_ + "/../outside.jpg", "描述图片 " + folder_ + "/../outside.jpg 不在数据包的图片文件夹里"},
        {folder_ + "/sub/link.jpg", "描述图片 " + folder_ + "/sub/link.jpg 不在数据包的图片文件夹里"},
        {folder_ + "/sub/fifo.jpg", "描述图片 " + folder_ + "/sub/fifo.jpg 不是普通文件"},
        {folder_, "描述图片 " + folder_ + " 不在数据包的图片文件夹里"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        write_package([&](std::vector<OfferRecord>& r) {
            r[1].description = "<img src=\"\"file://" + c.path + "\"\">";
        });
        const PackageCheck result = check();
        ASSERT_EQ(result.problems.size(), 1u);
        EXPECT_EQ(gbk_to_utf8(result.problems[0]), "第 2 行「宝贝2」：" + c.line);
    }
    // Inside the folder through ".." or a link is still inside.
    fs::create_symlink(folder_ + "/sub/d.jpg", folder_ + "/sub/inside.jpg");
    fs::create_directory_symlink(folder_ + "/sub", folder_ + "/again");
    for (const std::string path : {"/sub/../sub/d.jpg", "/sub/inside.jpg", "/again/d.jpg"}) {
        SCOPED_TRACE(path);
        write_package([&](std::vector<OfferRecord>& r) {
            r[1].description = "<img src=\"\"file://" + folder_ + path + "\"\">";
        });
        EXPECT_TRUE(check().clean());
    }
}

// After a run added rows, the rows before were checked when they were written: only the
// new rows' pictures are looked at, but a new row may not repeat an old row's id or name.
TEST_F(PackageCheckTest, AddedRowsAreCheckedAgainstTheNamesAndIdsOfAll) {
    write_package([](std::vector<OfferRecord>& r) {
        r[2].mainPictures = {"p1k1", "p3k1"};
        r[2].offerId = "2";
    });
    fs::remove(picture("p1k0"));  // an old row's picture: not looked at again
    const PackageCheck added = check_package(table_, folder_, 1);
    EXPECT_EQ(added.rows, 3);
    EXPECT_EQ(added.mainPictures, 2);
    std::vector<std::string> lines;
    for (const std::string& p : added.problems) lines.push_back(gbk_to_utf8(p));
    EXPECT_EQ(lines, (std::vector<std::string>{"第 3 行「宝贝3」：宝贝ID 2 与第 2 行重复",
                                              "第 3 行「宝贝3」：主图 p1k1 与第 1 行的主图同名"}));
    EXPECT_EQ(added.summary, "检查：宝贝 3 个，本次写入的 1 个：主图 2 张，本地描述图片 0 张，"
                             "网络图片地址 0 个，问题 2 个"_gbk);
    // The whole package, as vq check sees it, also finds the old row's missing picture.
    EXPECT_EQ(check().problems.size(), 3u);
    EXPECT_EQ(check_package(table_, folder_, 3).problems.size(), 3u);
}

TEST_F(PackageCheckTest, WhatIsNoPackageIsSaidSo) {
    EXPECT_FALSE(check().readable);  // no file at all
    // A FIFO would block the check for ever, /dev/zero fill its memory.
    ASSERT_EQ(::mkfifo(table_.c_str(), 0600), 0);
    EXPECT_FALSE(check().readable);
    EXPECT_EQ(check().summary, "数据包文件不是普通文件："_gbk + table_);
    fs::remove(table_);
    fs::create_symlink("/dev/zero", table_);
    EXPECT_EQ(check().summary, "数据包文件不是普通文件："_gbk + table_);
    fs::remove(table_);
    ASSERT_TRUE(write_file_atomic(table_, "name,price\r\nx,1\r\n"));
    const PackageCheck c = check();
    EXPECT_FALSE(c.readable);
    EXPECT_FALSE(c.clean());
    EXPECT_NE(c.summary.find(table_), std::string::npos);
}

}  // namespace
