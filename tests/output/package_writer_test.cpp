#include "output/package_writer.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <vector>

#include "output/package_check.hpp"
#include "output/package_layout.hpp"
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
OfferRecord full_record() {
    OfferRecord r;
    r.offerId = "556677";
    r.title = "杯子 \"大号\" 10"_gbk;
    r.postCategryId = "1031";
    r.retailPrice = "12.50";
    r.amount = "300";
    r.termOfferProcess = "30";
    r.freightTemplateId = "77";
    r.description = "<p>说明\"x\"</p>"_gbk;
    r.mainPictures = {"a1", "b2"};
    r.skus = {OfferSku{{{"3216", "红"_gbk}}, "s1", "5.00", "", "9", "1"}};
    r.features = {{"1", "红"_gbk}};
    r.priceRanges = {{"1", "5.00"}};
    r.unit = "件"_gbk;
    r.sendGoodsId = "88";
    r.productUnitWeight = "0.5";
    r.amountOnSale = "250";
    return r;
}

OfferRecord bare_record() {
    OfferRecord r;
    r.offerId = "2";
    r.title = "x";
    return r;
}

constexpr PackageFormat kFormats[] = {PackageFormat::Alibaba, PackageFormat::Taobao,
                                      PackageFormat::TaobaoToday};

std::string fixture_name(PackageFormat format, const char* what) {
    return std::string(what) + "_format" + std::to_string(format_number(format)) +
           (format == PackageFormat::Taobao ? ".csv" : ".txt");
}

TEST(PackageWriter, EveryFormatByteForByte) {
    for (const PackageFormat format : kFormats) {
        SCOPED_TRACE(format_number(format));
        const std::string row = build_package_row(full_record(), format);
        EXPECT_TRUE(row.ends_with(package_layout(format).rowEnd));
        const std::string rows = row + build_package_row(bare_record(), format);
        const std::string expected = fixture(fixture_name(format, "two_rows"));
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(package_file_bytes(format, rows), expected);
        EXPECT_EQ(package_file_bytes(format, ""), fixture(fixture_name(format, "header_only")));
    }
}

// The 1688 table ends with one zero unit; today's assistant table has none and ends its
// lines with LF only, its first line "version 1.00" alone.
TEST(PackageWriter, TheUtf16TablesEndAsTheirReadersExpect) {
    const std::string alibaba = package_file_bytes(PackageFormat::Alibaba,
                                                   build_package_row(bare_record(), PackageFormat::Alibaba));
    EXPECT_EQ(alibaba.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(alibaba.substr(alibaba.size() - 6), std::string("\r\0\n\0\0\0", 6));
    const std::string today = package_file_bytes(
        PackageFormat::TaobaoToday, build_package_row(bare_record(), PackageFormat::TaobaoToday));
    EXPECT_EQ(today.substr(0, 28), std::string("\xFF\xFEv\0e\0r\0s\0i\0o\0n\0 \0001\0.\0000\0000\0\n\0", 28));
    EXPECT_EQ(today.substr(today.size() - 4), std::string("\"\0\n\0", 4));
    EXPECT_EQ(today.find(std::string("\r\0", 2)), std::string::npos);
    EXPECT_EQ(package_layout(PackageFormat::TaobaoToday).field_count(), 63);
    EXPECT_EQ(package_layout(PackageFormat::TaobaoToday).columns[39].chinese, "用户名称");
}

// Values as sellers and answers really hold them: every row still reads back, under strict
// quoting, into exactly its column count, each field the value its column takes.
TEST(PackageWriter, HostileValuesReadBackWholeAndUnchanged) {
    std::vector<std::string> values = {
        "a\"b", "1,000", "x\ty", "|*|", "*|", "|*", "a**b", "ends with |", "*", "\"", "", "line\r\nbreak",
    };
    values.push_back("中文,\"表\"|*|"_gbk);
    for (const PackageFormat format : kFormats) {
        const PackageLayout& layout = package_layout(format);
        for (const std::string& v : values) {
            SCOPED_TRACE(std::to_string(format_number(format)) + ": " + v);
            OfferRecord r = full_record();
            r.title = v;
            r.offerId = r.amount = r.retailPrice = r.productUnitWeight = r.amountOnSale = v;
            r.postCategryId = r.sendGoodsId = r.freightTemplateId = r.termOfferProcess = v;
            r.description = v;
            r.mainPictures = {"n1", v};
            r.features = {{v, v}};
            r.skus = {OfferSku{{{v, v}}, v, v, v, v, v}};
            r.skuPictures = {{v, v}};
            r.itemSkus = {{v, v, v, v}};
            r.priceRanges = {{v, v}};
            r.unit = v;
            const std::string rows =
                build_package_row(r, format) + build_package_row(bare_record(), format);
            const PackageTable table = read_package_table(package_file_bytes(format, rows));
            ASSERT_EQ(table.format, format_number(format));
            EXPECT_TRUE(table.headerMatches);
            EXPECT_TRUE(table.terminated);
            ASSERT_EQ(table.records.size(), 2u);
            const PackageRecord& row = table.records[0];
            EXPECT_EQ(row.error, "");
            ASSERT_EQ(row.fields.size(), static_cast<std::size_t>(layout.field_count()));
            EXPECT_EQ(table.records[1].fields.size(), row.fields.size());
            for (std::size_t k = 0; k < row.fields.size(); ++k) {
                EXPECT_EQ(row.fields[k], column_value(layout.columns[k], r)) << layout.columns[k].english;
            }
        }
    }
}

// A lead byte cut off from its second byte would take the closing quote as its second half
// in a GBK reader (format 5) or in the UTF-16 conversion (formats 4, 6); a NUL would end the
// UTF-16 text there.
TEST(PackageWriter, BytesThatStartNoCharacterAndNulsBecomeQuestionMarks) {
    for (const PackageFormat format : kFormats) {
        SCOPED_TRACE(format_number(format));
        const PackageLayout& layout = package_layout(format);
        OfferRecord r = bare_record();
        r.title = "x\x81";
        r.description = "\xFF\xB1\xA6\x81";
        r.offerId = std::string("9\0\x81", 3);
        const std::string bytes = package_file_bytes(format, build_package_row(r, format));
        const PackageTable table = read_package_table(bytes);
        ASSERT_EQ(table.records.size(), 1u);
        EXPECT_EQ(table.records[0].error, "");
        const auto& f = table.records[0].fields;
        ASSERT_EQ(f.size(), static_cast<std::size_t>(layout.field_count()));
        const auto at = [&](ColumnSource source) { return f[static_cast<std::size_t>(layout.column_of(source))]; };
        EXPECT_EQ(at(ColumnSource::Title), "x?");
        EXPECT_EQ(at(ColumnSource::Description), "?\xB1\xA6?");
        EXPECT_EQ(at(ColumnSource::OfferId), "9??");
        if (format == PackageFormat::Taobao) {
            // Every lead byte of the file has its second byte.
            for (std::size_t i = 0; i < bytes.size(); i += gbk_char_length(bytes, i)) {
                EXPECT_FALSE(is_gbk_lead_byte(static_cast<unsigned char>(bytes[i])) &&
                             gbk_char_length(bytes, i) == 1)
                    << i;
            }
        }
    }
}

// Rows added to a package make the same bytes as a package written with all rows at once,
// and only a whole package of the same format takes rows.
TEST(PackageWriter, AppendingEqualsWritingEverythingAtOnce) {
    for (const PackageFormat format : kFormats) {
        SCOPED_TRACE(format_number(format));
        const std::string first = build_package_row(full_record(), format);
        const std::string second =
            build_package_row(bare_record(), format) + build_package_row(full_record(), format);
        const std::string existing = package_file_bytes(format, first);
        EXPECT_EQ(append_refusal(format, existing), "");
        EXPECT_EQ(appended_package_bytes(format, existing, second),
                  package_file_bytes(format, first + second));
        // A package of no rows takes rows too.
        EXPECT_EQ(appended_package_bytes(format, package_file_bytes(format, ""), first),
                  existing);

        const PackageFormat other =
            format == PackageFormat::Alibaba ? PackageFormat::TaobaoToday : PackageFormat::Alibaba;
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
        const std::string shortRow = append_refusal(
            format, package_file_bytes(format, first + "x" + std::string(package_layout(format).rowEnd)));
        EXPECT_TRUE(shortRow.starts_with("第 "_gbk)) << gbk_to_utf8(shortRow);
    }
}

TEST(PackageReader, StrictQuotingFaultsAreFound) {
    const std::string header = package_header_text(PackageFormat::Taobao);
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
    const std::string format4 = package_file_bytes(PackageFormat::Alibaba, "");
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
    const std::string rows_ = build_package_row(bare_record(), PackageFormat::Taobao);
};

const std::string& kWritten = "2014年3月18日9时5分7秒 文件写成功！\r\n"_gbk;
const std::string& kFailed = "2014年3月18日9时5分7秒 文件写失败！请检查保存路径！\r\n"_gbk;

TEST_F(PackageFileTest, WritesFileAndLogsSuccess) {
    const std::string path = dir_ + "/" + "店铺"_gbk + ".csv";
    EXPECT_EQ(write_package_file(PackageFormat::Taobao, path, rows_, log_, clock_), PackageWriteResult::Written);
    EXPECT_EQ(read_file_bytes(path), package_file_bytes(PackageFormat::Taobao, rows_));
    EXPECT_EQ(log_.lines, std::vector<std::string>{kWritten});
    EXPECT_EQ(entries(), 1u);  // no temporary left beside it
}

TEST_F(PackageFileTest, FailedWriteLeavesNothingAndSaysSo) {
    const std::string missing = dir_ + "/missing/p.csv";
    EXPECT_EQ(write_package_file(PackageFormat::Taobao, missing, rows_, log_, clock_), PackageWriteResult::Failed);
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
    const PackageWriteResult result = write_package_file(PackageFormat::Taobao, path, rows_, log_, clock_);
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
    EXPECT_EQ(write_package_file(PackageFormat::Alibaba, path, rows_, log_, clock_, refuse),
              PackageWriteResult::Abandoned);
    EXPECT_TRUE(asked);
    EXPECT_EQ(read_file_bytes(path), "old package");
    EXPECT_EQ(entries(), 1u);
    EXPECT_TRUE(log_.lines.empty());

    EXPECT_EQ(write_package_file(PackageFormat::Alibaba, path, rows_, log_, clock_, [] { return true; }),
              PackageWriteResult::Written);
    EXPECT_EQ(read_file_bytes(path), package_file_bytes(PackageFormat::Alibaba, rows_));
}

}  // namespace
