#include "output/package_writer.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <vector>

#include "output/package_check.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"

using namespace vq;
namespace fs = std::filesystem;

namespace {

class FixedClock final : public Clock {
public:
    LocalDateTime now() const override { return {2014, 3, 18, 9, 5, 7, 0}; }
};

class RecordingLog final : public LogSink {
public:
    void append_log(std::string_view text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

std::string fixture(const std::string& name) {
    return read_file_bytes(std::string(VQ_TEST_DATA_DIR) + "/output/" + name).value_or("");
}

// A product with a distinct value in every field, so a value in the wrong column shows.
OfferRecord full_record(int format) {
    OfferRecord r;
    r.offerId = "556677";
    r.title = "杯子 \"大号\" 10"_gbk;
    r.postCategryId = "1031";
    r.retailPrice = "12.50";
    r.amount = "300";
    r.termOfferProcess = "30";
    r.freightTemplateId = "77";
    r.description = "<p>说明\"\"x\"\"</p>"_gbk;  // arrives with its quotes doubled
    r.pictureList = "a1:1:0:|;b2:1:1:|;";
    r.skuText = format == 4 ? "[{\"\"specId\"\":\"\"s1\"\"},]" : ";";
    r.featureText = "{\"\"1\"\":\"\"红\"\"}"_gbk;
    r.skuPictures = "{\"\"3216\"\":[]}";
    r.sendGoodsId = "88";
    r.productUnitWeight = "0.5";
    r.amountOnSale = "250";
    r.priceRanges = "\"1:5.00`\"";
    return r;
}

OfferRecord bare_record() {
    OfferRecord r;
    r.offerId = "2";
    r.title = "x";
    return r;
}

TEST(PackageWriter, BothFormatsByteForByte) {
    struct Case {
        int format;
        const char* two_rows;
        const char* header_only;
    };
    for (const Case& c : {Case{5, "two_rows_format5.csv", "header_only_format5.csv"},
                          Case{4, "two_rows_format4.txt", "header_only_format4.txt"}}) {
        SCOPED_TRACE(c.format);
        const std::string row = build_package_row(full_record(c.format), c.format);
        // Structural quotes stay placeholders until the file is written.
        EXPECT_NE(row.find(kQuotePlaceholder), std::string::npos);
        EXPECT_EQ(row.substr(row.size() - 2), "\r\n");

        const std::string rows = row + build_package_row(bare_record(), c.format);
        const std::string expected = fixture(c.two_rows);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(package_file_bytes(c.format, rows), expected);
        EXPECT_EQ(package_file_bytes(c.format, ""), fixture(c.header_only));
    }
}

TEST(PackageWriter, Format4EndsWithOneZeroUnit) {
    const std::string bytes = package_file_bytes(4, build_package_row(bare_record(), 4));
    ASSERT_GE(bytes.size(), 6u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(bytes.substr(bytes.size() - 6), std::string("\r\0\n\0\0\0", 6));
}

// Values as sellers and answers really hold them: every row still reads back, under strict
// quoting, into exactly its column count and the original texts.
TEST(PackageWriter, HostileValuesReadBackWholeAndUnchanged) {
    std::vector<std::string> values = {
        "a\"b", "1,000", "x\ty", "|*|", "*|", "|*", "a**b", "ends with |", "*", "\"", "", "line\r\nbreak",
    };
    values.push_back("中文,\"表\"|*|"_gbk);
    for (const int format : {4, 5}) {
        for (const std::string& v : values) {
            SCOPED_TRACE(std::to_string(format) + ": " + v);
            OfferRecord r = full_record(format);
            // Bare fields take the value as it is; quoted ones arrive with quotes doubled.
            r.title = v;
            r.offerId = r.amount = r.retailPrice = r.productUnitWeight = r.amountOnSale = v;
            r.postCategryId = r.sendGoodsId = r.freightTemplateId = r.termOfferProcess = v;
            r.description = double_quotes(v);
            r.pictureList = "n1:1:0:|;" + double_quotes(v);
            r.featureText = r.skuText = r.skuPictures = double_quotes(v);
            r.priceRanges = "\"" + double_quotes(v) + "\"";
            const std::string rows =
                build_package_row(r, format) + build_package_row(bare_record(), format);
            const PackageTable table = read_package_table(package_file_bytes(format, rows));
            ASSERT_EQ(table.format, format);
            EXPECT_TRUE(table.headerMatches);
            EXPECT_TRUE(table.terminated);
            ASSERT_EQ(table.records.size(), 2u);
            const PackageRecord& row = table.records[0];
            EXPECT_EQ(row.error, "");
            ASSERT_EQ(row.fields.size(), static_cast<std::size_t>(package_field_count(format)));
            EXPECT_EQ(table.records[1].fields.size(), row.fields.size());
            const auto& f = row.fields;
            if (format == 5) {
                for (const int column : {0, 1, 7, 9, 10, 11, 20, 30, 36, 46}) {
                    EXPECT_EQ(f[static_cast<std::size_t>(column)], v) << column;
                }
                EXPECT_EQ(f[28], "n1:1:0:|;" + v);
            } else {
                for (const int column : {0, 1, 2, 4, 5, 6, 7, 9, 11, 12, 13, 14, 15, 16}) {
                    EXPECT_EQ(f[static_cast<std::size_t>(column)], v) << column;
                }
                EXPECT_EQ(f[3], "n1:1:0:|;" + v);
            }
        }
    }
}

// A lead byte cut off from its second byte would take the closing quote as its second half
// in a GBK reader (format 5) or in the UTF-16 conversion (format 4); a NUL would end the
// format-4 text there.
TEST(PackageWriter, BytesThatStartNoCharacterAndNulsBecomeQuestionMarks) {
    for (const int format : {4, 5}) {
        SCOPED_TRACE(format);
        OfferRecord r = bare_record();
        r.title = "x\x81";
        r.description = "\xFF\xB1\xA6\x81";
        r.offerId = std::string("9\0\x81", 3);  // a NUL would end the format-4 text
        const std::string bytes = package_file_bytes(format, build_package_row(r, format));
        const PackageTable table = read_package_table(bytes);
        ASSERT_EQ(table.records.size(), 1u);
        EXPECT_EQ(table.records[0].error, "");
        const auto& f = table.records[0].fields;
        ASSERT_EQ(f.size(), static_cast<std::size_t>(package_field_count(format)));
        EXPECT_EQ(f[format == 4 ? 1 : 0], "x?");
        EXPECT_EQ(f[format == 4 ? 7 : 20], "?\xB1\xA6?");
        EXPECT_EQ(f[format == 4 ? 0 : 36], "9??");
        if (format == 5) {
            // Every lead byte of the file has its second byte.
            for (std::size_t i = 0; i < bytes.size(); i += gbk_char_length(bytes, i)) {
                EXPECT_FALSE(is_gbk_lead_byte(static_cast<unsigned char>(bytes[i])) &&
                             gbk_char_length(bytes, i) == 1)
                    << i;
            }
        }
    }
}

// The strict reader finds what a seller assistant would stumble over.
// Rows added to a package make the same bytes as a package written with all rows at once,
// and only a whole package of the same format takes rows.
TEST(PackageWriter, AppendingEqualsWritingEverythingAtOnce) {
    for (const int format : {4, 5}) {
        SCOPED_TRACE(format);
        const std::string first = build_package_row(full_record(format), format);
        const std::string second =
            build_package_row(bare_record(), format) + build_package_row(full_record(format), format);
        const std::string existing = package_file_bytes(format, first);
        EXPECT_EQ(append_refusal(format, existing), "");
        EXPECT_EQ(appended_package_bytes(format, existing, second),
                  package_file_bytes(format, first + second));
        // A package of no rows takes rows too.
        EXPECT_EQ(appended_package_bytes(format, package_file_bytes(format, ""), first),
                  existing);

        const int other = format == 4 ? 5 : 4;
        const std::string cut = existing.substr(0, existing.size() - 3);
        const struct {
            std::string bytes;
            std::string why;
        } refused[] = {
            {"not a package", "不是数据包文件"_gbk},
            {package_file_bytes(other, first), "数据包格式不同"_gbk},
            {cut, "文件不完整"_gbk},
        };
        for (const auto& r : refused) EXPECT_EQ(append_refusal(format, r.bytes), r.why);
        // A short row is named by its line.
        const std::string shortRow = append_refusal(format, package_file_bytes(format, first + "x\r\n"));
        EXPECT_TRUE(shortRow.starts_with("第 "_gbk)) << gbk_to_utf8(shortRow);
    }
}

TEST(PackageReader, StrictQuotingFaultsAreFound) {
    const std::string header = package_header_text(5);
    const std::string fields47(47, ',');
    struct Case {
        std::string row;
        std::string error;  // UTF-8
        std::size_t fields;
    } cases[] = {
        {"\"a\"\"b\"" + fields47 + "\r\n", "", 48},
        {"\"a\"b" + fields47 + "\r\n", "引号后面紧跟着其他字符", 48},
        {"a\"b" + fields47 + "\r\n", "未加引号的字段里有引号", 48},
        {"\"a" + fields47 + "\r\n", "引号没有闭合", 1},
        {"a" + fields47 + ",\r\n", "", 49},
        {"\"a\r\nb\"" + fields47, "", 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        const PackageTable table = read_package_table(header + c.row);
        ASSERT_EQ(table.records.size(), 1u);
        EXPECT_EQ(table.records[0].error, utf8_to_gbk(c.error));
        EXPECT_EQ(table.records[0].fields.size(), c.fields);
        EXPECT_EQ(table.records[0].line, 4);
    }
    EXPECT_EQ(read_package_table("title,cid\r\n").format, 0);
    EXPECT_FALSE(read_package_table("version 1.00,\r\n").headerMatches);
    const std::string format4 = package_file_bytes(4, "");
    EXPECT_TRUE(read_package_table(format4).terminated);
    EXPECT_FALSE(read_package_table(format4.substr(0, format4.size() - 2)).terminated);
}

class PackageFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-package-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::size_t entries() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    std::string dir_;
    FixedClock clock_;
    RecordingLog log_;
    const std::string rows_ = build_package_row(bare_record(), 5);
};

const std::string& kWritten = "2014年3月18日9时5分7秒 文件写成功！\r\n"_gbk;
const std::string& kFailed = "2014年3月18日9时5分7秒 文件写失败！请检查保存路径！\r\n"_gbk;

TEST_F(PackageFileTest, WritesFileAndLogsSuccess) {
    const std::string path = dir_ + "/" + "店铺"_gbk + ".csv";
    EXPECT_EQ(write_package_file(5, path, rows_, log_, clock_), PackageWriteResult::Written);
    EXPECT_EQ(read_file_bytes(path), package_file_bytes(5, rows_));
    EXPECT_EQ(log_.lines, std::vector<std::string>{kWritten});
    EXPECT_EQ(entries(), 1u);  // no temporary left beside it
}

TEST_F(PackageFileTest, FailedWriteLeavesNothingAndSaysSo) {
    const std::string missing = dir_ + "/missing/p.csv";
    EXPECT_EQ(write_package_file(5, missing, rows_, log_, clock_), PackageWriteResult::Failed);
    EXPECT_FALSE(file_exists(missing));
    EXPECT_EQ(entries(), 0u);
    EXPECT_EQ(log_.lines, std::vector<std::string>{kFailed});
}

TEST_F(PackageFileTest, WriteCutShortKeepsPreviousFile) {
    const std::string path = dir_ + "/p.csv";
    ASSERT_TRUE(write_file_atomic(path, "old package"));
    // A file size limit fails the write part-way, as a full disk would.
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const PackageWriteResult result = write_package_file(5, path, rows_, log_, clock_);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous_handler);

    EXPECT_EQ(result, PackageWriteResult::Failed);
    EXPECT_EQ(read_file_bytes(path), "old package");
    EXPECT_EQ(entries(), 1u);
    EXPECT_EQ(log_.lines, std::vector<std::string>{kFailed});
}

TEST_F(PackageFileTest, AbandonedWriteKeepsOldFileAndLogsNothing) {
    const std::string path = dir_ + "/p.csv";
    ASSERT_TRUE(write_file_atomic(path, "old package"));
    bool asked = false;
    const auto refuse = [&] {
        asked = true;
        EXPECT_EQ(entries(), 2u);  // the new file waits beside the old one
        return false;
    };
    EXPECT_EQ(write_package_file(4, path, rows_, log_, clock_, refuse),
              PackageWriteResult::Abandoned);
    EXPECT_TRUE(asked);
    EXPECT_EQ(read_file_bytes(path), "old package");
    EXPECT_EQ(entries(), 1u);
    EXPECT_TRUE(log_.lines.empty());

    EXPECT_EQ(write_package_file(4, path, rows_, log_, clock_, [] { return true; }),
              PackageWriteResult::Written);
    EXPECT_EQ(read_file_bytes(path), package_file_bytes(4, rows_));
}

}  // namespace
