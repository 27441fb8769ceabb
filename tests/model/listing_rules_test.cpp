#include "model/listing_rules.hpp"

#include <gtest/gtest.h>

#include "support/gbk_literal.hpp"

namespace vq {
namespace {

ListingRules price_rules(std::string_view factor, std::string_view add, PriceEnding ending) {
    ListingRules rules;
    rules.priceFactor = parse_price_factor(factor).value();
    rules.priceAdd = parse_price_add(add).value();
    rules.priceEnding = ending;
    return rules;
}

TEST(ListingRulesTest, PriceRule) {
    using E = PriceEnding;
    using O = PriceRuleOutcome;
    struct Case {
        const char* factor;
        const char* add;
        E ending;
        const char* price;
        const char* expected;
        O outcome;
    };
    const Case cases[] = {
        {"1", "0", E::None, "12.3456", "12.3456", O::Unchanged},  // no rule: untouched
        {"1.0", "0.00", E::None, "5", "5", O::Unchanged},
        {"1.5", "0", E::None, "10", "15.00", O::Applied},
        {"1", "0", E::Yuan, " 12.5 ", "13.00", O::Applied},
        // Rounding at the cent, half up, exactly (binary floating point gives 1.00 here).
        {"3", "0", E::None, "0.335", "1.01", O::Applied},
        {"3", "0", E::None, "0.3349", "1.00", O::Applied},
        {"1.1", "0", E::None, "0.05", "0.06", O::Applied},
        {"2", "0.005", E::None, "1", "2.01", O::Applied},
        {"1.2", "0", E::Yuan, "10", "12.00", O::Applied},
        {"1.2", "0", E::Yuan, "10.01", "13.00", O::Applied},
        {"1.3", "0", E::Nine, "10", "13.90", O::Applied},
        {"1", "0", E::Nine, "12.9", "12.90", O::Applied},
        {"1", "0", E::Nine, "12.91", "13.90", O::Applied},
        {"1", "0", E::Nine, "0.5", "0.90", O::Applied},
        {"1", "0", E::NinetyNine, "12.99", "12.99", O::Applied},
        {"1", "0", E::NinetyNine, "12.991", "13.99", O::Applied},
        {"1", "0", E::NinetyNine, "13", "13.99", O::Applied},
        {"1", "5", E::None, "10.5", "15.50", O::Applied},
        {"1", "-2.5", E::None, "10", "7.50", O::Applied},
        {"1", "-10", E::None, "10", "10", O::NotPositive},
        {"2", "-20", E::Yuan, "5.00", "5.00", O::NotPositive},
        {"2", "0", E::None, "99999999.99", "199999999.98", O::Applied},
        {"999999999.999999", "999999999.999999", E::None, "999999999999999999",
         "999999999999999000000000000.00", O::Applied},
        {"2", "0", E::None, "1234567890123456789", "1234567890123456789", O::NotANumber},
        {"2", "5", E::None, "", "", O::Unchanged},
        {"2", "5", E::None, "0.0000", "0.0000", O::Unchanged},  // an SKU without its own price
        {"2", "5", E::None, "abc", "abc", O::NotANumber},
        {"2", "5", E::None, "1.2.3", "1.2.3", O::NotANumber},
        {"2", "5", E::None, "-5", "-5", O::NotANumber},
        {"2", "5", E::None, "12元", "12元", O::NotANumber},
        {"2", "5", E::None, ".", ".", O::NotANumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.factor) + " " + c.add + " " + c.price);
        const ListingRules rules = price_rules(c.factor, c.add, c.ending);
        const RuledPrice got = apply_price_rule(utf8_to_gbk(c.price), rules);
        EXPECT_EQ(got.text, utf8_to_gbk(c.expected));
        EXPECT_EQ(got.outcome, c.outcome);
    }
}

TEST(ListingRulesTest, TitleRule) {
    struct Case {
        const char* name;
        std::vector<TitleReplacement> replacements;
        const char* prefix;
        const char* suffix;
        const char* title;
        const char* expected;
    };
    // Titles whose second bytes look like ASCII: 丄 is 81 41 ("A"), 丂 is 81 40 ("@").
    const Case cases[] = {
        {"no rule keeps blanks", {}, "", "", "  a  b ", "  a  b "},
        {"in order", {{"一件代发", "包邮"}, {"批发", ""}}, "", "", "一件代发批发水杯", "包邮水杯"},
        {"earlier first", {{"AB", "X"}, {"A", "Y"}}, "", "", "AB A", "X Y"},
        {"order matters", {{"A", "Y"}, {"AB", "X"}}, "", "", "AB A", "YB Y"},
        {"removal of every occurrence", {{"厂家直销", ""}}, "", "", "厂家直销 保温杯 厂家直销",
         "保温杯"},
        {"prefix and suffix", {}, "【现货】", " 包邮", "保温杯", "【现货】保温杯 包邮"},
        {"replacement before prefix", {{"杯", "壶"}}, "杯具 ", "", "保温杯", "杯具 保温壶"},
        {"blanks trimmed and made one", {{"x", " "}}, " ", "  ", "a x x　　b", "a b"},
        {"full-width run", {}, "p", "", "a　　 b", "pa　b"},
        {"second byte A", {{"A", "z"}}, "", "", "丄A丄", "丄z丄"},
        {"second byte @", {{"@", "at"}}, "", "", "丂@", "丂at"},
        {"blank-looking bytes inside characters", {}, "x", "", "啊　b", "x啊　b"},
        {"everything removed", {{"批发", ""}}, "", "", "批发", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ListingRules rules;
        for (const TitleReplacement& r : c.replacements) {
            rules.titleReplacements.push_back({utf8_to_gbk(r.from), utf8_to_gbk(r.to)});
        }
        rules.titlePrefix = utf8_to_gbk(c.prefix);
        rules.titleSuffix = utf8_to_gbk(c.suffix);
        EXPECT_EQ(apply_title_rule(utf8_to_gbk(c.title), rules), utf8_to_gbk(c.expected));
    }
}

TEST(ListingRulesTest, FieldTextsAreCheckedAndNamed) {
    EXPECT_FALSE(parse_price_factor("0"));
    EXPECT_FALSE(parse_price_factor("-1"));
    EXPECT_FALSE(parse_price_factor("abc"));
    EXPECT_FALSE(parse_price_factor(""));
    EXPECT_FALSE(parse_price_factor("1.1234567"));
    EXPECT_FALSE(parse_price_factor("1234567890"));
    EXPECT_EQ(decimal_text(parse_price_factor(" 1.50 ").value()), "1.50");
    EXPECT_EQ(decimal_text(parse_price_add("-0.05").value()), "-0.05");
    EXPECT_FALSE(parse_price_add("--1"));
    EXPECT_FALSE(parse_price_add("1e3"));
    EXPECT_EQ(parse_price_ending(".99"), PriceEnding::NinetyNine);
    EXPECT_FALSE(parse_price_ending("0.9"));
    EXPECT_FALSE(parse_title_replacement("批发"_gbk));
    EXPECT_FALSE(parse_title_replacement("=x"));
    EXPECT_FALSE(parse_title_replacement("a=b\tc"));
    const auto removal = parse_title_replacement("批发="_gbk);
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->from, "批发"_gbk);
    EXPECT_EQ(removal->to, "");
    EXPECT_EQ(parse_title_replacement("a=b=c")->to, "b=c");
    EXPECT_EQ(parse_keep_pictures("3"), 3);
    EXPECT_FALSE(parse_keep_pictures("-1"));
    EXPECT_FALSE(parse_keep_pictures("2.5"));

    struct Refused {
        ListingRuleTexts texts;
        const char* field;
    };
    ListingRuleTexts factor, ending, replacement, keep, prefix;
    factor.priceFactor = "0";
    ending.priceEnding = "cents";
    const std::string no_equals = "一件代发"_gbk;
    replacement.titleReplacements = {"a=b", no_equals};
    keep.keepPictures = "all";
    prefix.titlePrefix = "a\nb";
    for (const Refused& r : {Refused{factor, "价格倍数"}, Refused{ending, "价格尾数"},
                             Refused{replacement, "标题替换"}, Refused{keep, "保留主图张数"},
                             Refused{prefix, "标题前缀"}}) {
        const ParsedRules parsed = parse_listing_rules(r.texts);
        EXPECT_EQ(parsed.error.rfind(utf8_to_gbk(r.field), 0), 0u) << gbk_to_utf8(parsed.error);
        EXPECT_FALSE(parsed.rules.changes_titles());
    }
}

TEST(ListingRulesTest, TextsRoundTrip) {
    ListingRuleTexts texts;
    texts.priceFactor = "1.35";
    texts.priceAdd = "-2";
    texts.priceEnding = ".9";
    texts.titlePrefix = "【现货】 "_gbk;
    const std::string removal = "批发="_gbk, change = "一件代发=包邮"_gbk;
    texts.titleReplacements = {removal, "", change};
    texts.keepPictures = "5";
    const ParsedRules parsed = parse_listing_rules(texts);
    ASSERT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.rules.changes_prices());
    EXPECT_TRUE(parsed.rules.changes_titles());
    ASSERT_EQ(parsed.rules.titleReplacements.size(), 2u);  // the blank line is skipped
    const ListingRuleTexts back = listing_rule_texts(parsed.rules);
    EXPECT_EQ(back.priceFactor, "1.35");
    EXPECT_EQ(back.priceAdd, "-2");
    EXPECT_EQ(back.priceEnding, ".9");
    EXPECT_EQ(back.titlePrefix, texts.titlePrefix);
    EXPECT_EQ(back.titleReplacements, (std::vector<std::string>{removal, change}));
    EXPECT_EQ(back.keepPictures, "5");
    EXPECT_FALSE(ListingRules{}.changes_prices());
    EXPECT_FALSE(ListingRules{}.changes_titles());
}

}  // namespace
}  // namespace vq
