#pragma once
// The seller's listing rules: what the copied prices and title become, and how many main
// pictures a product keeps. All off by default; with none set, nothing changes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq {

// units / 10^scale, scale 0..6.
struct DecimalNumber {
    std::int64_t units = 0;
    int scale = 0;
};

// How the price after factor and add ends: two decimals rounded half up, up to the next
// whole yuan, the smallest x.90 or x.99 not below it.
enum class PriceEnding { None, Yuan, Nine, NinetyNine };

struct TitleReplacement {
    std::string from;  // never empty
    std::string to;    // empty removes
};

struct ListingRules {
    DecimalNumber priceFactor{1, 0};  // > 0
    DecimalNumber priceAdd{0, 0};     // may be below zero
    PriceEnding priceEnding = PriceEnding::None;
    std::string titlePrefix;
    std::string titleSuffix;
    std::vector<TitleReplacement> titleReplacements;  // applied in this order
    int keepPictures = 0;  // main pictures kept; 0 = all

    bool changes_prices() const;
    bool changes_titles() const;
    bool none_set() const { return !changes_prices() && !changes_titles() && keepPictures == 0; }
};

enum class PriceRuleOutcome {
    Applied,
    Unchanged,   // no price rule, an empty price or a zero price ("0.0000": no price of its own)
    NotANumber,  // kept as it was
    NotPositive, // the add took it to zero or below; kept as it was
};

struct RuledPrice {
    std::string text;
    PriceRuleOutcome outcome = PriceRuleOutcome::Unchanged;
};

// p x factor + add, then the ending, written with two decimals. A price is digits with at
// most one decimal point (blanks around it allowed), at most 18 digits; anything else is
// not a number and stays as it was.
RuledPrice apply_price_rule(std::string_view price, const ListingRules& rules);

// The replacements in order (every occurrence, never inside a double-byte character),
// then prefix + title + suffix, then blanks trimmed from the ends and each run of blanks
// made one. Without a title rule the title is returned as it is.
std::string apply_title_rule(std::string_view title, const ListingRules& rules);

// The rules as texts, the way the options file, the settings page and the command line
// hold them; an empty text stands for the default.
struct ListingRuleTexts {
    std::string priceFactor;
    std::string priceAdd;
    std::string priceEnding;  // "none", "yuan", ".9" or ".99"
    std::string titlePrefix;
    std::string titleSuffix;
    std::vector<std::string> titleReplacements;  // "OLD=NEW" each
    std::string keepPictures;
};

// Each gives the value, or nothing for a text that is not acceptable (an empty one
// included). Numbers: at most 9 digits before the point and 6 after it.
std::optional<DecimalNumber> parse_price_factor(std::string_view text);  // above zero
std::optional<DecimalNumber> parse_price_add(std::string_view text);     // "-" allowed
std::optional<PriceEnding> parse_price_ending(std::string_view text);
std::optional<TitleReplacement> parse_title_replacement(std::string_view line);
std::optional<int> parse_keep_pictures(std::string_view text);
// Prefix and suffix: any text without control characters.
bool acceptable_title_text(std::string_view text);

// The message (GBK) refusing text for a field, naming the field. The fields are the
// members of ListingRuleTexts.
enum class RuleField { PriceFactor, PriceAdd, PriceEnding, TitlePrefix, TitleSuffix,
                       TitleReplacement, KeepPictures };
std::string rule_refusal(RuleField field, std::string_view text);

struct ParsedRules {
    ListingRules rules;
    // GBK, naming each refused field ("；" between them); empty when every text was
    // acceptable.
    std::string error;
    std::vector<RuleField> refused;  // in the order of the fields
};

// All texts at once, every refusal reported; blank replacement lines are skipped. On an
// error the rules are the defaults.
ParsedRules parse_listing_rules(const ListingRuleTexts& texts);

// The texts that parse back to these rules.
ListingRuleTexts listing_rule_texts(const ListingRules& rules);

std::string decimal_text(DecimalNumber number);
std::string_view price_ending_name(PriceEnding ending);

}  // namespace vq
