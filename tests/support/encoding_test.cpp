#include "support/encoding.hpp"

#include <gtest/gtest.h>

#include "support/gbk_literal.hpp"

using namespace vq;

namespace {

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
}

TEST(Utf8ToGbk, Conversions) {
    struct Case {
        std::string utf8, gbk;
    } cases[] = {
        {"", ""},
        {"plain ASCII <a>&amp;</a>", "plain ASCII <a>&amp;</a>"},
        {"\xE4\xB8\xAD\xE6\x96\x87", bytes({0xD6, 0xD0, 0xCE, 0xC4})},  // 中文
        {"a\xF0\x9F\x98\x80z", "a?z"},                                  // emoji
        {"\xE2\x82\xAC", bytes({0x80})},                                // euro sign
        {"\xE3\x80\x80", bytes({0xA1, 0xA1})},                          // full-width blank
        {"a\xFF"
         "b",
         "a?b"},              // invalid byte
        {"a\xE4\xB8", "a?"},  // cut short
        {"\xC0\xAF", "??"},   // overlong
        {"ab\0cd", "ab"},
    };
    for (const auto& c : cases) EXPECT_EQ(utf8_to_gbk(c.utf8), c.gbk) << c.utf8;
    EXPECT_EQ(utf8_to_gbk(std::string("ab\0cd", 5)), "ab");
    // Text that is already GBK is not valid UTF-8 and comes back mangled.
    EXPECT_NE(utf8_to_gbk("中文"_gbk), "中文"_gbk);
}

TEST(GbkToUtf16le, EndsWithOneZeroUnit) {
    EXPECT_EQ(gbk_to_utf16le(""), std::string(2, '\0'));
    EXPECT_EQ(gbk_to_utf16le("ab"), bytes({0x61, 0, 0x62, 0, 0, 0}));
    EXPECT_EQ(gbk_to_utf16le("中"_gbk), bytes({0x2D, 0x4E, 0, 0}));
    EXPECT_EQ(gbk_to_utf16le(std::string("a\0b", 3)), bytes({0x61, 0, 0, 0}));
    EXPECT_EQ(gbk_to_utf16le(bytes({0xFF})), bytes({'?', 0, 0, 0}));
}

TEST(GbkRoundTrips, Utf8AndUtf32) {
    const std::string utf8 = "\xE5\xAE\x9D\xE8\xB4\x9D x=1 \xE2\x82\xAC";  // 宝贝 x=1 €
    const std::string gbk = utf8_to_gbk(utf8);
    EXPECT_EQ(gbk_to_utf8(gbk), utf8);
    EXPECT_EQ(gbk_to_utf32("a中"_gbk), U"a\u4E2D");
    EXPECT_EQ(utf32_to_gbk(U"a\u4E2D\U0001F600"), "a中?"_gbk);
}

// The first byte a strict reader would refuse, over the whole text (NUL included).
TEST(StrictDecoding, FirstByteThatStartsNoCharacter) {
    const std::size_t none = std::string_view::npos;
    const struct {
        std::string gbk;
        std::size_t at;
    } gbk_cases[] = {
        {"abc\xB1\xA6", none},
        {std::string("a\0\xB1\xA6", 4), none},
        {"\x80", none},  // the euro sign
        {"ab\xFF", 2},
        {"a\xB1", 1},        // a lead byte at the end
        {"a\xB1\x22", 1},   // a quote is no second byte
        {"\xB1\xA6\x81\x7F", 2},
    };
    for (const auto& c : gbk_cases) EXPECT_EQ(first_invalid_gbk(c.gbk), c.at) << c.gbk;
    const struct {
        std::string utf16;
        std::size_t at;
    } utf16_cases[] = {
        {std::string("a\0\0\0", 4), none},
        {std::string("\x3D\xD8\x00\xDE", 4), none},  // a pair
        {std::string("a\0\x3D\xD8" "a\0", 6), 2},  // a high surrogate alone
        {std::string("a\0\x00\xDE", 4), 2},          // a low one alone
        {std::string("a\0\x3D\xD8", 4), 2},          // a high one at the end
        {std::string("a\0b", 3), 2},                   // an odd last byte
    };
    for (const auto& c : utf16_cases) EXPECT_EQ(first_invalid_utf16le(c.utf16), c.at);
}

TEST(Md5Text, FullAndShortForms) {
    EXPECT_EQ(md5_text(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_text("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_text("中文"_gbk), "bcce109775e8e1972e9f5fcda3e12895");
    for (const std::string s : {"", "abc", "1394000000000title123"}) {
        EXPECT_EQ(md5_text(s, true), md5_text(s).substr(8, 16));
    }
    EXPECT_EQ(md5_text(std::string("abc\0def", 7)), md5_text("abc"));
}

}  // namespace
