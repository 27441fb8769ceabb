#include "model/listing_rules.hpp"

#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

// Prices go up to 18 digits and factors up to 15, so a product needs more than 64 bits.
__extension__ typedef __int128 Wide;

constexpr int kMostPriceDigits = 18;
constexpr int kMostWholeDigits = 9;
constexpr int kMostDecimals = 6;

Wide power_of_ten(int n) {
    Wide p = 1;
    while (n-- > 0) p *= 10;
    return p;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits with at most one point: units and scale, or nothing.
struct Digits {
    Wide units = 0;
    int whole = 0;  // digits before the point
    int scale = 0;  // digits after it
};

std::optional<Digits> read_digits(std::string_view text) {
    Digits d;
    bool point = false;
    int count = 0;
    for (const char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (is_digit(c)) {
            if (++count > kMostPriceDigits) return std::nullopt;
            d.units = d.units * 10 + (c - '0');
            (point ? d.scale : d.whole) += 1;
        } else {
            return std::nullopt;
        }
    }
    if (count == 0) return std::nullopt;
    return d;
}

std::optional<DecimalNumber> read_decimal(std::string_view text, bool allow_negative) {
    const std::string trimmed = trim_blanks(text);
    std::string_view digits = trimmed;
    const bool negative = allow_negative && !digits.empty() && digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    const std::optional<Digits> d = read_digits(digits);
    if (!d || d->whole > kMostWholeDigits || d->scale > kMostDecimals) return std::nullopt;
    DecimalNumber number;
    number.units = static_cast<std::int64_t>(negative ? -d->units : d->units);
    number.scale = d->scale;
    return number;
}

// Units at scale 6.
Wide at_scale6(DecimalNumber number) {
    return static_cast<Wide>(number.units) * power_of_ten(kMostDecimals - number.scale);
}

std::string cents_text(Wide cents) {
    std::string digits;
    for (Wide v = cents; v > 0 || digits.size() < 3; v /= 10) {
        digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    }
    digits.insert(digits.size() - 2, ".");
    return digits;
}

// Smallest whole k with k + fraction >= value (value, fraction and one at the same scale).
Wide whole_with_fraction(Wide value, Wide fraction, Wide one) {
    const Wide over = value - fraction;
    return over <= 0 ? 0 : (over + one - 1) / one;
}

bool is_blank_at(std::string_view text, std::size_t i, std::size_t length) {
    return (length == 1 && text[i] == ' ') ||
           (length == 2 && text[i] == '\xA1' && text[i + 1] == '\xA1');
}

// Each run of blanks becomes its first blank.
std::string single_blanks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool after_blank = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = gbk_char_length(text, i);
        const bool blank = is_blank_at(text, i, length);
        if (!blank || !after_blank) out.append(text.substr(i, length));
        after_blank = blank;
        i += length;
    }
    return out;
}

bool has_control_character(std::string_view text) {
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}

}  // namespace

bool ListingRules::changes_prices() const {
    const bool factor_one = at_scale6(priceFactor) == power_of_ten(kMostDecimals);
    return !factor_one || priceAdd.units != 0 || priceEnding != PriceEnding::None;
}

bool ListingRules::changes_titles() const {
    return !titlePrefix.empty() || !titleSuffix.empty() || !titleReplacements.empty();
}

RuledPrice apply_price_rule(std::string_view price, const ListingRules& rules) {
    RuledPrice result{std::string(price), PriceRuleOutcome::Unchanged};
    if (!rules.changes_prices() || trim_blanks(price).empty()) return result;
    const std::optional<Digits> p = read_digits(trim_blanks(price));
    if (!p) {
        result.outcome = PriceRuleOutcome::NotANumber;
        return result;
    }
    if (p->units == 0) return result;  // no price of its own: nothing to mark up

    // p x factor + add, exactly, at scale p.scale + 6.
    const Wide value = p->units * at_scale6(rules.priceFactor) +
                       at_scale6(rules.priceAdd) * power_of_ten(p->scale);
    if (value <= 0) {
        result.outcome = PriceRuleOutcome::NotPositive;
        return result;
    }
    const Wide one = power_of_ten(p->scale + kMostDecimals);
    const Wide cent = one / 100;
    Wide cents = 0;
    switch (rules.priceEnding) {
        case PriceEnding::None: cents = (value + cent / 2) / cent; break;
        case PriceEnding::Yuan: cents = whole_with_fraction(value, 0, one) * 100; break;
        case PriceEnding::Nine: cents = whole_with_fraction(value, 90 * cent, one) * 100 + 90; break;
        case PriceEnding::NinetyNine:
            cents = whole_with_fraction(value, 99 * cent, one) * 100 + 99;
            break;
    }
    result.text = cents_text(cents);
    result.outcome = PriceRuleOutcome::Applied;
    return result;
}

std::string apply_title_rule(std::string_view title, const ListingRules& rules) {
    if (!rules.changes_titles()) return std::string(title);
    std::string text(title);
    for (const TitleReplacement& replacement : rules.titleReplacements) {
        if (!replacement.from.empty()) text = replace_all(text, replacement.from, replacement.to);
    }
    text = rules.titlePrefix + text + rules.titleSuffix;
    return single_blanks(trim_blanks(text));
}

std::optional<DecimalNumber> parse_price_factor(std::string_view text) {
    const auto number = read_decimal(text, false);
    if (!number || number->units <= 0) return std::nullopt;
    return number;
}

std::optional<DecimalNumber> parse_price_add(std::string_view text) {
    return read_decimal(text, true);
}

std::optional<PriceEnding> parse_price_ending(std::string_view text) {
    for (const PriceEnding ending : {PriceEnding::None, PriceEnding::Yuan, PriceEnding::Nine,
                                     PriceEnding::NinetyNine}) {
        if (text == price_ending_name(ending)) return ending;
    }
    return std::nullopt;
}

std::optional<TitleReplacement> parse_title_replacement(std::string_view line) {
    // "=" is never the second byte of a double-byte character.
    const std::size_t equals = line.find('=');
    if (equals == 0 || equals == std::string_view::npos || has_control_character(line)) {
        return std::nullopt;
    }
    return TitleReplacement{std::string(line.substr(0, equals)),
                            std::string(line.substr(equals + 1))};
}

std::optional<int> parse_keep_pictures(std::string_view text) {
    const std::string trimmed = trim_blanks(text);
    if (trimmed.empty() || trimmed.size() > kMostWholeDigits) return std::nullopt;
    int n = 0;
    for (const char c : trimmed) {
        if (!is_digit(c)) return std::nullopt;
        n = n * 10 + (c - '0');
    }
    return n;
}

bool acceptable_title_text(std::string_view text) {
    return !has_control_character(text);
}

std::string rule_refusal(RuleField field, std::string_view text) {
    const std::string shown = "“"_gbk + std::string(text) + "”"_gbk;
    switch (field) {
        case RuleField::PriceFactor:
            return "价格倍数必须是大于 0 的数字（小数点后最多 6 位）："_gbk + shown;
        case RuleField::PriceAdd:
            return "加价必须是数字，可以是负数（小数点后最多 6 位）："_gbk + shown;
        case RuleField::PriceEnding:
            return "价格尾数只能是 none、yuan、.9 或 .99："_gbk + shown;
        case RuleField::TitlePrefix:
            return "标题前缀不能包含换行、制表符等控制字符"_gbk;
        case RuleField::TitleSuffix:
            return "标题后缀不能包含换行、制表符等控制字符"_gbk;
        case RuleField::TitleReplacement:
            return "标题替换的每一行要写成 旧词=新词（旧词不能为空，新词为空即删除）："_gbk + shown;
        case RuleField::KeepPictures:
            return "保留主图张数必须是 0（全部保留）或正整数："_gbk + shown;
    }
    return {};
}

ParsedRules parse_listing_rules(const ListingRuleTexts& texts) {
    ParsedRules parsed;
    ListingRules& rules = parsed.rules;
    // Every field is looked at, so the user mends them all at once.
    const auto refuse = [&parsed](RuleField field, std::string_view text) {
        if (!parsed.error.empty()) parsed.error += "；"_gbk;
        parsed.error += rule_refusal(field, text);
        parsed.refused.push_back(field);
    };
    if (!texts.priceFactor.empty()) {
        if (const auto factor = parse_price_factor(texts.priceFactor)) {
            rules.priceFactor = *factor;
        } else {
            refuse(RuleField::PriceFactor, texts.priceFactor);
        }
    }
    if (!texts.priceAdd.empty()) {
        if (const auto add = parse_price_add(texts.priceAdd)) {
            rules.priceAdd = *add;
        } else {
            refuse(RuleField::PriceAdd, texts.priceAdd);
        }
    }
    if (!texts.priceEnding.empty()) {
        if (const auto ending = parse_price_ending(texts.priceEnding)) {
            rules.priceEnding = *ending;
        } else {
            refuse(RuleField::PriceEnding, texts.priceEnding);
        }
    }
    if (!acceptable_title_text(texts.titlePrefix)) refuse(RuleField::TitlePrefix, texts.titlePrefix);
    if (!acceptable_title_text(texts.titleSuffix)) refuse(RuleField::TitleSuffix, texts.titleSuffix);
    rules.titlePrefix = texts.titlePrefix;
    rules.titleSuffix = texts.titleSuffix;
    for (const std::string& line : texts.titleReplacements) {
        if (trim_blanks(line).empty()) continue;
        if (const auto replacement = parse_title_replacement(line)) {
            rules.titleReplacements.push_back(*replacement);
        } else {
            refuse(RuleField::TitleReplacement, line);
        }
    }
    if (!texts.keepPictures.empty()) {
        if (const auto keep = parse_keep_pictures(texts.keepPictures)) {
            rules.keepPictures = *keep;
        } else {
            refuse(RuleField::KeepPictures, texts.keepPictures);
        }
    }
    if (!parsed.refused.empty()) rules = ListingRules{};
    return parsed;
}

ListingRuleTexts listing_rule_texts(const ListingRules& rules) {
    ListingRuleTexts texts;
    texts.priceFactor = decimal_text(rules.priceFactor);
    texts.priceAdd = decimal_text(rules.priceAdd);
    texts.priceEnding = std::string(price_ending_name(rules.priceEnding));
    texts.titlePrefix = rules.titlePrefix;
    texts.titleSuffix = rules.titleSuffix;
    for (const TitleReplacement& replacement : rules.titleReplacements) {
        texts.titleReplacements.push_back(replacement.from + "=" + replacement.to);
    }
    texts.keepPictures = std::to_string(rules.keepPictures);
    return texts;
}

std::string decimal_text(DecimalNumber number) {
    const bool negative = number.units < 0;
    std::string digits = std::to_string(negative ? -number.units : number.units);
    if (number.scale > 0) {
        const std::size_t scale = static_cast<std::size_t>(number.scale);
        if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
        digits.insert(digits.size() - scale, ".");
    }
    return negative ? "-" + digits : digits;
}

std::string_view price_ending_name(PriceEnding ending) {
    switch (ending) {
        case PriceEnding::None: return "none";
        case PriceEnding::Yuan: return "yuan";
        case PriceEnding::Nine: return ".9";
        case PriceEnding::NinetyNine: return ".99";
    }
    return "none";
}

}  // namespace vq
