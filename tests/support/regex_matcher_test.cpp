#include "support/regex_matcher.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/gbk_literal.hpp"

using namespace vq;

namespace {

using Dialect = RegexMatcher::Dialect;
using Groups = std::vector<std::string>;  // groups 1.. of one match

const char* name(Dialect d) {
    return d == Dialect::Perl ? "Perl" : "Script";
}

// Groups 1..group_count of every match, as a caller reads them back.
std::vector<Groups> matches_of(RegexMatcher& re, const std::string& subject, int group_count) {
    std::vector<Groups> out;
    const int count = re.find_all(subject);
    EXPECT_EQ(count, re.match_count());
    for (int i = 1; i <= count; ++i) {
        Groups g;
        for (int n = 1; n <= group_count; ++n) g.push_back(re.group_text(i, n, subject));
        out.push_back(g);
    }
    return out;
}

TEST(RegexMatcher, MatchesInBothDialects) {
    struct Case {
        const char* what;
        Dialect dialect;
        std::string pattern, subject;
        std::vector<Groups> expected;
        bool ignore_case = true, multiline = true, global = true;
    };
    const std::string price = R"~(<span class="c-price">(.*?)</span>)~";
    const std::string img = R"~(<IMG .*?"http://(.*?)".*?>)~";
    const std::string cjk = R"~(([\u4e00-\u9fa5]))~";
    // clang-format off
    const Case cases[] = {
        {"lazy group crosses a line feed", Dialect::Perl, price,
         "<span class=\"c-price\">\n12\r\n</span>", {{"\n12\r\n"}}},
        {"script dot stops at a line feed", Dialect::Script, price,
         "<span class=\"c-price\">\n12</span>", {}},
        {"script dot takes a lone CR", Dialect::Script, R"~(<a href="(.*?)">)~",
         "<a href=\"x\ry\">", {{"x\ry"}}},
        {"upper-case tag with ignore case", Dialect::Perl, price,
         R"~(<SPAN CLASS="c-price">12</SPAN>)~", {{"12"}}},
        {"case kept without ignore case", Dialect::Perl, price,
         R"~(<SPAN CLASS="c-price">12</SPAN>)~", {}, false},
        {"two products on one line", Dialect::Perl,
         R"~(<a class="item-name" href=".*?id=(.*?)" target="_blank">(.*?)</a>)~",
         R"~(<li><a class="item-name" href="http://i.t.com/item.htm?id=11" target="_blank">A</a>)~"
         R"~(</li><li><a class="item-name" href="http://i.t.com/item.htm?id=22" target="_blank">)~"
         R"~(B</a></li>)~",
         {{"11", "A"}, {"22", "B"}}},
        // The description doubles its quotes; the lazy ".*?" skips the first one.
        {"img tag with doubled quotes", Dialect::Script, img,
         "<p><img src=\"\"http://x.com/a.jpg\"\" border=\"\"0\"\">\r\n"
         "<IMG alt=\"\"b\"\" src=\"\"http://y.com/b.png\"\"></p>",
         {{"x.com/a.jpg"}, {"y.com/b.png"}}},
        {"background with doubled quotes", Dialect::Script, R"~(background=""http://(.*?)"")~",
         R"~(<td background=""http://x.com/bg.gif"" width=""9"">)~", {{"x.com/bg.gif"}}},
        {"ASCII address has no Chinese", Dialect::Script, cjk, "img.x.com/a_b-9.jpg", {}},
        {"Chinese address", Dialect::Script, cjk, "img.x.com/"_gbk + "图片"_gbk + ".jpg",
         {{"图"_gbk}, {"片"_gbk}}},
        {"Chinese range escaped inside brackets", Dialect::Script, R"~(([\u4e00-\u9fa5]+))~",
         "a"_gbk + "中文"_gbk + "b", {{"中文"_gbk}}},
        {"dot inside brackets stays literal", Dialect::Script, "([.])", "a.b\n", {{"."}}},
        {"bracket opening with ]", Dialect::Script, "([].]+)", "x].y", {{"]."}}},
        {"escaped dot stays literal", Dialect::Script, R"~((a\.b))~", "axb a.b", {{"a.b"}}},
        {"\\u escape names a code point", Dialect::Script, R"~((\u0041\d))~", "A1 a2",
         {{"A1"}, {"a2"}}},
        {"perl anchors at line breaks", Dialect::Perl, R"~(^(\d+)$)~", "12\n34\nx5",
         {{"12"}, {"34"}}},
        {"restart sees the character before it", Dialect::Perl, R"~((\bab))~", "abab ab",
         {{"ab"}, {"ab"}}},
        {"no line start at a restart", Dialect::Perl, "^(a)", "aaa", {{"a"}}},
        {"empty matches step on", Dialect::Perl, "(a*)", "baa", {{""}, {"aa"}, {""}}},
        {"script empty matches step on", Dialect::Script, "(a*)", "baa", {{""}, {"aa"}, {""}}},
        {"script multiline anchors", Dialect::Script, "^(b)", "a\nb", {{"b"}}},
        {"script single-line anchors", Dialect::Script, "^(b)", "a\nb", {}, true, false},
        {"script first match only", Dialect::Script, R"~((\d))~", "1 2", {{"1"}}, true, true,
         false},
        {"perl is always global", Dialect::Perl, R"~((\d))~", "1 2", {{"1"}, {"2"}}, true, true,
         false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RegexMatcher re(c.dialect);
        ASSERT_TRUE(re.compile(c.pattern, c.ignore_case, c.multiline, c.global));
        const int groups = c.expected.empty() ? 1 : static_cast<int>(c.expected[0].size());
        EXPECT_EQ(matches_of(re, c.subject, groups), c.expected);
    }
}

TEST(RegexMatcher, GroupTextEdges) {
    for (Dialect d : {Dialect::Perl, Dialect::Script}) {
        SCOPED_TRACE(name(d));
        RegexMatcher re(d);
        ASSERT_TRUE(re.compile("(x)?(y+)|(z)"));
        const std::string subject = "-yy-z";
        ASSERT_EQ(re.find_all(subject), 2);
        EXPECT_EQ(re.group_text(1, 0, subject), "yy");
        EXPECT_EQ(re.group_text(1, 1, subject), "");  // did not take part
        EXPECT_EQ(re.group_text(1, 2, subject), "yy");
        EXPECT_EQ(re.group_text(1, 3, subject), "");
        EXPECT_EQ(re.group_text(2, 0, subject), "z");
        EXPECT_EQ(re.group_text(2, 2, subject), "");
        EXPECT_EQ(re.group_text(2, 3, subject), "z");
        for (auto [i, n] : {std::pair{0, 0}, {3, 0}, {-1, 0}, {1, -1}, {1, 4}})
            EXPECT_EQ(re.group_text(i, n, subject), "") << i << "," << n;
    }
    // Script texts come back as GBK and need no subject.
    RegexMatcher script(Dialect::Script);
    ASSERT_TRUE(script.compile("(.)" + "元"_gbk));
    ASSERT_EQ(script.find_all("5"_gbk + "价"_gbk + "元"_gbk), 1);
    EXPECT_EQ(script.group_text(1, 0), "价"_gbk + "元"_gbk);
    EXPECT_EQ(script.group_text(1, 1), "价"_gbk);
}

TEST(RegexMatcher, CompileDropsMatchesAndRejectsBadPatterns) {
    for (Dialect d : {Dialect::Perl, Dialect::Script}) {
        SCOPED_TRACE(name(d));
        RegexMatcher re(d);
        EXPECT_EQ(re.match_count(), 0);
        EXPECT_EQ(re.find_all("abc"), 0);  // nothing compiled yet

        ASSERT_TRUE(re.compile("b"));
        EXPECT_EQ(re.match_count(), 0);
        ASSERT_EQ(re.find_all("abcb"), 2);
        ASSERT_TRUE(re.compile("c"));
        EXPECT_EQ(re.match_count(), 0);
        EXPECT_EQ(re.group_text(1, 0, "abcb"), "");

        ASSERT_EQ(re.find_all("abcb"), 1);
        for (const char* bad : {"(<a", "[a-", "a{2,1}", "*a", "\\"}) {
            EXPECT_FALSE(re.compile(bad)) << bad;
            EXPECT_EQ(re.match_count(), 0);
            EXPECT_EQ(re.find_all("(<a[a-*a\\"), 0) << bad;
        }
        ASSERT_TRUE(re.compile("a"));
        EXPECT_EQ(re.find_all("aa"), 2);
    }
}

TEST(RegexMatcher, ListingTemplates) {
    struct Case {
        const char* template_name;
        std::string item, item_page, g1, g2;
        std::string price, price_page, price_g1;
    };
    const Case cases[] = {
        {"普通",
         "<div class=\"image\">\n\t<a href=\"(.*?)\" title=\"(.*?)\" target=\"_blank\">\n\t\t<",
         "<ul>\r\n<li>\n<div class=\"image\">\n\t<a href=\"http://detail.x.com/offer/123.html\" "
         "title=\"" +
             "红杯"_gbk + "\" target=\"_blank\">\n\t\t<img src=\"a.jpg\"></a></div>",
         "http://detail.x.com/offer/123.html", "红杯"_gbk,
         "\">&yen;</span>\n        \t<em>(.*?)</em>",
         "<span class=\"yen\">&yen;</span>\n        \t<em>12.50</em>", "12.50"},
        {"旺铺", R"~(<a class="item-name" href=".*?id=(.*?)" target="_blank">(.*?)</a>)~",
         "<dd>\n<a class=\"item-name\" href=\"http://item.x.com/item.htm?id=4567\" "
         "target=\"_blank\">" +
             "新款"_gbk + " T</a>\n</dd>",
         "4567", "新款"_gbk + " T", R"~(<span class="c-price">(.*?)</span>)~",
         "<div>\n<span class=\"c-price\">88.00 </span></div>", "88.00 "},
        {"店铺街", R"~(<a title="(.*?)"  href=".*?id=(.*?)" target="_blank">)~",
         "<h3><a title=\"" + "包"_gbk +
             "\"  href=\"http://item.x.com/item.htm?id=99\" "
             "target=\"_blank\">",
         "包"_gbk, "99", "<strong>(.*?) " + "元"_gbk + "</strong>",
         "<p><strong>35.00 " + "元"_gbk + "</strong></p>", "35.00"},
        {"新天猫", R"~(<a class="item-name" .*? href=".*?id=(.*?)" target="_blank">(.*?)</a>)~",
         "<a class=\"item-name\" data-spm=\"d1\"\r\n   href=\"//detail.x.com/item.htm?id=77&amp;"
         "rn=ab\" target=\"_blank\">Cup</a>",
         "77&amp;rn=ab", "Cup", R"~(<span class="c-price">(.*?)</span>)~",
         "<span class=\"c-price\">9.9</span>", "9.9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.template_name);
        RegexMatcher items(Dialect::Perl), prices(Dialect::Perl);
        ASSERT_TRUE(items.compile(c.item));
        ASSERT_TRUE(prices.compile(c.price));
        EXPECT_EQ(matches_of(items, c.item_page, 2), (std::vector<Groups>{{c.g1, c.g2}}));
        EXPECT_EQ(matches_of(prices, c.price_page, 1), (std::vector<Groups>{{c.price_g1}}));
    }
}

TEST(RegexMatcher, EngineLimitKeepsEarlierMatches) {
    // Each repeat of a group leaves a backtracking point, so a long run of "a" with no
    // "c" after it exhausts the engine's stack at its first start.
    const std::string subject = "abc-bc-" + std::string(1 << 20, 'a');
    for (Dialect d : {Dialect::Perl, Dialect::Script}) {
        SCOPED_TRACE(name(d));
        RegexMatcher re(d);
        ASSERT_TRUE(re.compile("(a|b)*c"));
        ASSERT_EQ(re.find_all(subject), 2);
        EXPECT_EQ(re.group_text(1, 0, subject), "abc");
        EXPECT_EQ(re.group_text(2, 0, subject), "bc");
    }
}

TEST(RegexMatcher, NearMissesCannotHoldASearchForLong) {
    // A page full of the start of a product link whose end never comes: every start makes
    // the lazy groups run to the end of the page. The search gives up with what it found
    // instead of working quadratically through the page.
    const std::string item =
        "<div class=\"image\">\n\t<a href=\"http://s.localhost/offer/1.html\" title=\"A\" "
        "target=\"_blank\">\n\t\t<img/>";
    std::string page = item + item;
    while (page.size() < (512u << 10))
        page += "<div class=\"image\">\n\t<a href=\"http://x/\">y</a>\n";
    RegexMatcher re(Dialect::Perl);
    ASSERT_TRUE(re.compile(
        "<div class=\"image\">\n\t<a href=\"(.*?)\" title=\"(.*?)\" target=\"_blank\">\n\t\t<"));
    ASSERT_EQ(re.find_all(page), 2);
    EXPECT_EQ(re.group_text(2, 1, page), "http://s.localhost/offer/1.html");
}

}  // namespace
