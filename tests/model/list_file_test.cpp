#include "model/list_file.hpp"

#include <gtest/gtest.h>

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

TEST(ListText, FieldOrderSeparatorsAndTrimmedEnds) {
    const std::string wide_blank = "\xA1\xA1";
    const std::vector<ProductEntry> rows = {
        row(" " + wide_blank + "A", "1", "9.50", "http://a/1"),
        row("B", "2", "", "http://a/2  "),
    };
    // Blanks before the first title go; the last address keeps its blanks before CR LF.
    EXPECT_EQ(format_list_text(rows), "A||1||9.50||http://a/1\r\nB||2||||http://a/2  \r\n");
    EXPECT_EQ(format_list_text({}), "");
}

// A field ending in a lead byte would take the separator's first "|" for its second half
// and lose the whole row on reading; the byte is written as "?" instead.
TEST(ListText, AFieldEndingInALeadByteKeepsItsRow) {
    const std::vector<ProductEntry> rows = {row("cup\xB1", "1\xCB", "2", "http://a/\xB1\xA6\x81")};
    expect_rows(parse_list_text(format_list_text(rows)),
                {row("cup?", "1?", "2", "http://a/\xB1\xA6?")});
}

TEST(ListText, OnlyFourPieceLinesBecomeRows) {
    const std::string bytes =
        "title||id||price||address\r\n"     // a header is just another four-piece line
        "\r\n"                               // blank
        "no separators\r\n"
        "T1||1||2||\r\n"                     // empty address, as a row without one is written
        "T2||1||2||3||4\r\n"                 // five pieces
        "||5||6||http://x/5\n"               // empty title kept, LF end
        "T6||6||||http://x/6\r"              // empty price kept, CR-only end
        "T7||7||7||http://x/7" + std::string(1, '\0') +
        "T8||8||8||http://x/8\x1a"
        "T9||9||9||http://x/9";              // no line end at all
    expect_rows(parse_list_text(bytes), {
                                            row("title", "id", "price", "address"),
                                            row("T1", "1", "2", ""),
                                            row("", "5", "6", "http://x/5"),
                                            row("T6", "6", "", "http://x/6"),
                                            row("T7", "7", "7", "http://x/7"),
                                            row("T8", "8", "8", "http://x/8"),
                                            row("T9", "9", "9", "http://x/9"),
                                        });
}

// Values sellers type: whatever a field holds, its row reads back as one row with the
// same other fields; what the format cannot hold becomes a blank.
TEST(ListText, ValuesThatWouldBreakTheirLineBecomeBlanks) {
    const struct {
        std::string value, written;
    } cases[] = {
        {"A||B", "A B"},
        {"A|||B", "A |B"},
        {"A|", "A "},
        {"|A", " A"},
        {"cut\x1ahere", "cut here"},
        {"CR\rLF\nNUL" + std::string(1, '\0') + "end", "CR LF NUL end"},
        {"\x95|", "\x95|"},  // that "|" is the second byte of a character
    };
    for (const auto& c : cases) {
        const std::vector<ProductEntry> rows = {row("T", "1", "2", "http://a/1"),
                                                row(c.value, "2", c.value, c.value),
                                                row("T", "3", "2", "http://a/3")};
        const ListContents read = read_list_contents(format_list_text(rows));
        EXPECT_TRUE(read.unreadableLines.empty()) << c.value;
        expect_rows(read.rows, {rows[0], row(c.written, "2", c.written, c.written), rows[2]});
    }
}

// What a line holds that is no row is reported by its line number, so nothing that
// rewrites the file has to lose it unseen.
TEST(ListText, LinesThatAreNoRowAreNamed) {
    const std::string bytes =
        "A||1||2||http://a/1\r\n"          // 1
        "\r\n"                              // 2 blank: not a row, not a loss
        "   \r\n"                           // 3 blanks only
        "A||B||1||2||http://a/2\r\n"       // 4 five pieces
        "C||3||4||\r\n"                    // 5 empty address: a row
        "D||4||5||http://a/4\n"              // 6
        "E||5||" + std::string(1, '\0') + "6||http://a/5\r"  // 7 cut by NUL
        "F||6||7||http://a/6";               // 8
    const ListContents read = read_list_contents(bytes);
    EXPECT_EQ(read.unreadableLines, (std::vector<int>{4, 7}));
    EXPECT_EQ(read.rowLines, (std::vector<int>{1, 5, 6, 8}));
    ASSERT_EQ(read.rows.size(), 4u);
    EXPECT_EQ(read.rows[2].title, "D");
}

class ListFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-list-XXXXXX";
        dir_ = mkdtemp(tmpl);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_;
};

TEST_F(ListFileTest, WriteThenReadGivesTheSameList) {
    // "晐" ends in the byte "|": the separator search must not start inside it.
    const std::vector<ProductEntry> rows = {
        row("连衣裙"_gbk, "100", "12.5", "http://detail.example/offer/100.html"),
        row("晐"_gbk, "200", "3", "http://detail.example/offer/200.html"),
        row("", "300", "0.01", "http://detail.example/offer/300.html"),
        row("no address", "400", "1", ""),
    };
    const std::string path = dir_ + "/" + "列表"_gbk + ".txt";
    ASSERT_TRUE(write_list_file(path, rows));
    const auto read = read_list_file(path);
    ASSERT_TRUE(read.has_value());
    expect_rows(*read, rows);
}

TEST_F(ListFileTest, FailuresAreResults) {
    EXPECT_FALSE(read_list_file(dir_ + "/missing.txt").has_value());
    EXPECT_FALSE(read_list_file(dir_).has_value());  // a folder cannot be read as a file
    EXPECT_EQ(read_list_file_contents(dir_).file.status, FileReadStatus::NotRegular);
    EXPECT_FALSE(write_list_file(dir_ + "/no/such/folder.txt", {row("A", "1", "2", "3")}));
}

}  // namespace
}  // namespace vq
