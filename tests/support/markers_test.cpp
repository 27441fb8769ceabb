#include "support/markers.hpp"

#include <gtest/gtest.h>

#include "support/gbk_literal.hpp"

using namespace vq;

namespace {

TEST(TextBetween, MarkerRules) {
    struct Case {
        const char *text, *start, *end, *expected;
    } cases[] = {
        {"k=v; p", "=", ";", "v"},   {"abc", "x", "c", ""},
        {"abc", "", "c", "ab"},      {"abc", "a", "", "bc"},
        {"abc", "a", "x", ""},       {"abc", "", "", "abc"},
        {"abc", "", "x", ""},        {"abc", "x", "", ""},
        {"a=1;b=2;", "=", ";", "1"}, {"Set-Cookie: a=1; path=/", "Set-Cookie:", ";", " a=1"},
        {"ABC", "a", "c", ""},  // case matters
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_between(c.text, c.start, c.end), c.expected)
            << c.text << " [" << c.start << "] [" << c.end << "]";
    }
}

TEST(ScrapeBetween, CaseInsensitiveByDefault) {
    const std::string page = "<EM CLASS=\"offer-count\">12</EM>条"_gbk;
    EXPECT_EQ(scrape_between(page, "<em class=\"offer-count\">", "</em>"), "12");
    EXPECT_EQ(scrape_between(page, "<em class=\"offer-count\">", "</em>", 0, true), "");
    EXPECT_EQ(scrape_between(page, "offer-count\">", "</em>条"_gbk), "12");
}

TEST(ScrapeBetween, QuoteWordAndEmptyMarkers) {
    EXPECT_EQ(scrape_between("offer_id:\"123\",", "offer_id:#引号"_gbk, "#引号,"_gbk), "123");
    EXPECT_EQ(scrape_between("abc", "", "c"), "ab");
    EXPECT_EQ(scrape_between("", "", "c"), "");
    EXPECT_EQ(scrape_between("abc", "a", ""), "");
    EXPECT_EQ(scrape_between("http://shop1.localhost", "http://", "/"), "");
    EXPECT_EQ(scrape_between("http://shop1.localhost/x", "http://", "/"), "shop1.localhost");
}

TEST(ScrapeBetween, StartPositionAppliesToBothSearches) {
    // The end search starts at the same position within the rest of the text.
    EXPECT_EQ(scrape_between("a[1]a[2]", "a[", "]", 2), "2");
    EXPECT_EQ(scrape_between("[x]y]", "[", "]", 1), "x");
    EXPECT_EQ(scrape_between("[x]y]", "[", "]", 0), "x");
    EXPECT_EQ(scrape_between("a[xy]z]", "a[", "]", 3), "");
}

}  // namespace
