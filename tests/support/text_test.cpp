#include "support/text.hpp"

#include <gtest/gtest.h>

#include "support/gbk_literal.hpp"

using namespace vq;

namespace {

// "丄" is 81 41 and "乤" is 81 61: their second bytes are the ASCII letters 'A' and 'a'.
const std::string kUpperTrail = "\x81\x41";
const std::string kLowerTrail = "\x81\x61";

TEST(TextFind, Positions) {
    struct Case {
        std::string text, what;
        int start;
        bool ignore_case;
        int expected;
    } cases[] = {
        {"abcabc", "bc", 1, false, 2},
        {"abcabc", "bc", 3, false, 5},
        {"abcabc", "bc", 0, false, 2},
        {"abcabc", "BC", 1, false, -1},
        {"abcabc", "BC", 1, true, 2},
        {"abcabc", "x", 1, false, -1},
        {"abc", "c", 4, false, -1},
        {"", "a", 1, false, -1},
        {"abc", "", 2, false, 2},
        {"中文"_gbk + "abc", "abc", 1, false, 5},
        {"中文"_gbk + "ABC", "abc", 1, true, 5},
        {"中文"_gbk, "文"_gbk, 1, false, 3},
        {"中文"_gbk, "文"_gbk, 2, false, 3},
        // A byte that only occurs as the second byte of a character is never found.
        {kUpperTrail, "A", 1, false, -1},
        {kUpperTrail + "A", "A", 1, false, 3},
        {kUpperTrail + "A", "a", 1, true, 3},
        // Case folding never touches second bytes: 81 41 and 81 61 are different characters.
        {kUpperTrail, kLowerTrail, 1, true, -1},
        {"x" + kLowerTrail, "X" + kLowerTrail, 1, true, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(find_text(c.text, c.what, c.start, c.ignore_case), c.expected)
            << "text=" << c.text << " what=" << c.what << " start=" << c.start;
    }
}

TEST(TextFind, LastOccurrenceAndContains) {
    EXPECT_EQ(find_last_text("a-b-c", "-"), 4);
    EXPECT_EQ(find_last_text("abc", "-"), -1);
    EXPECT_EQ(find_last_text(kUpperTrail + "A" + kUpperTrail, "A"), 3);
    EXPECT_TRUE(contains_text("Offer_ID", "offer_id", true));
    EXPECT_FALSE(contains_text("Offer_ID", "offer_id"));
}

TEST(TextReplace, EveryOccurrenceWithoutOverlap) {
    EXPECT_EQ(replace_all("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(replace_all("a*b|c", "*", " "), "a b|c");
    EXPECT_EQ(replace_all("abc", "", "x"), "abc");
    EXPECT_EQ(replace_all("Amp amp", "amp", "", true), " ");
    EXPECT_EQ(replace_all(kUpperTrail + "A", "A", "B"), kUpperTrail + "B");
    EXPECT_EQ(replace_all("中中"_gbk, "中"_gbk, "文"_gbk), "文文"_gbk);
}

TEST(TextSplit, EmptyPiecesButNoneAfterTrailingDelimiter) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split_text("a||b", "||"), (V{"a", "b"}));
    EXPECT_EQ(split_text("a||||b", "||"), (V{"a", "", "b"}));
    EXPECT_EQ(split_text("||a", "||"), (V{"", "a"}));
    EXPECT_EQ(split_text("a||b||", "||"), (V{"a", "b"}));
    EXPECT_EQ(split_text("||", "||"), (V{""}));
    EXPECT_EQ(split_text("", "||"), V{});
    EXPECT_EQ(split_text("abc", ""), (V{"abc"}));
    EXPECT_EQ(split_text("x" + kUpperTrail + "Ay", "A"), (V{"x" + kUpperTrail, "y"}));
}

TEST(TextTrim, AsciiAndFullWidthBlanks) {
    const std::string fw = "\xA1\xA1";
    EXPECT_EQ(trim_blanks("  a b  "), "a b");
    EXPECT_EQ(trim_blanks(fw + " a" + fw), "a");
    EXPECT_EQ(trim_blanks("\ta\r\n"), "\ta\r\n");  // only spaces count as blanks
    EXPECT_EQ(trim_blanks("   "), "");
    EXPECT_EQ(trim_left_blanks("  a  "), "a  ");
    EXPECT_EQ(trim_right_blanks("  a  "), "  a");
    // "啊" is B0 A1: the A1 A1 at the end here is not a full-width blank.
    const std::string ah_then_a1 = "\xB0\xA1\xA1";
    EXPECT_EQ(trim_right_blanks(ah_then_a1), ah_then_a1);
}

TEST(TextCase, AsciiLettersOnly) {
    EXPECT_EQ(to_lower_ascii("AbC" + kUpperTrail), "abc" + kUpperTrail);
    EXPECT_EQ(to_upper_ascii("abc" + kLowerTrail), "ABC" + kLowerTrail);
    EXPECT_EQ(to_upper_ascii("中文x"_gbk), "中文X"_gbk);
}

TEST(TextCuts, NeverSplitACharacter) {
    const std::string s = "a"_gbk + "中文"_gbk + "b";  // bytes: a D6 D0 CE C4 b
    EXPECT_EQ(left_text(s, 2), "a");
    EXPECT_EQ(left_text(s, 3), "a中"_gbk);
    EXPECT_EQ(left_text(s, 99), s);
    EXPECT_EQ(left_text(s, 0), "");
    EXPECT_EQ(right_text(s, 2), "b");
    EXPECT_EQ(right_text(s, 3), "文b"_gbk);
    EXPECT_EQ(middle_text(s, 2, 2), "中"_gbk);
    EXPECT_EQ(middle_text(s, 3, 2), "文"_gbk);  // position 3 is a second byte
    EXPECT_EQ(middle_text(s, 2, 3), "中"_gbk);
    EXPECT_EQ(middle_text(s, 9, 2), "");
}

TEST(TextBeforeAfter, SeparatorRules) {
    EXPECT_EQ(text_before("1-9", "-"), "1");
    EXPECT_EQ(text_before("19", "-"), "");
    EXPECT_EQ(text_after_last("≥10"_gbk, "≥"_gbk), "10");
    EXPECT_EQ(text_after_last("a/b/c", "/"), "c");
    EXPECT_EQ(text_after_last("abc", "/"), "");
    EXPECT_EQ(text_before(kUpperTrail + "A1", "A"), kUpperTrail);
}

}  // namespace
