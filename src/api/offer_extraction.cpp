#include "api/offer_extraction.hpp"

#include <string>
#include <vector>

#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

// Two quote characters: the JSON texts below go into quoted package fields, where a reader
// takes each pair as one quote.
constexpr std::string_view kQQ = "\"\"";

class Answer {
public:
    explicit Answer(XmlDocument& doc) : doc_(doc) {}

    std::string text(std::string_view tail) const { return doc_.node_text(path(tail)); }
    int children(std::string_view tail) const { return doc_.child_count(path(tail)); }
    void remove(std::string_view tail) { doc_.remove_node(path(tail)); }
    XmlDocument& doc() { return doc_; }

    const std::string& path(std::string_view tail) const {
        path_.assign(kAnswerPrefix);
        path_.append(tail);
        return path_;
    }

private:
    XmlDocument& doc_;
    mutable std::string path_;  // reused: every lookup builds a path
};

std::string clean_title(std::string title) {
    static constexpr std::string_view kSteps[][2] = {
        {"&amp;", " "}, {"amp;", ""}, {"&apos;", "'"}, {"*", " "},
        {"|", " "},     {"<", " "},   {">", " "},      {"?", " "},
    };
    for (const auto& step : kSteps) {
        if (contains_text(title, step[0])) title = replace_all(title, step[0], step[1]);
    }
    return title;
}

// A value as it stands between the QQ of a JSON string: escaped for JSON (a quote or a
// backslash of the seller's would end or bend the string), then its quotes doubled for the
// quoted package field. A backslash byte inside a double-byte character is left alone.
void append_json_value(std::string& out, std::string_view value) {
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t length = gbk_char_length(value, i);
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (length == 2) {
            out.append(value.substr(i, 2));
        } else if (c == '"') {
            out.append("\\\"\"");
        } else if (c == '\\') {
            out.append("\\\\");
        } else if (c < 0x20) {
            out.append("\\u00").append(1, kHex[c >> 4]).append(1, kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
        i += length;
    }
}

// QQ + a + QQ:QQ + b + QQ
void append_pair(std::string& out, std::string_view a, std::string_view b) {
    out.append(kQQ);
    append_json_value(out, a);
    out.append(kQQ).append(":").append(kQQ);
    append_json_value(out, b);
    out.append(kQQ);
}

// Applies the price rule to each price of a product; notes the first price it could not
// be used on (one log line per product is enough to send the user looking).
class Pricer {
public:
    Pricer(const ListingRules& rules, OfferRecord& record) : rules_(rules), record_(record) {}

    std::string operator()(std::string price) {
        RuledPrice ruled = apply_price_rule(price, rules_);
        if (!noted_ && (ruled.outcome == PriceRuleOutcome::NotANumber ||
                        ruled.outcome == PriceRuleOutcome::NotPositive)) {
            noted_ = true;
            record_.ruleNotes.push_back(
                "价格“"_gbk + price +
                (ruled.outcome == PriceRuleOutcome::NotANumber
                     ? "”不是数字，未按价格规则改动"_gbk
                     : "”按价格规则算出的价格不大于 0，保留原价"_gbk));
        }
        return std::move(ruled.text);
    }

private:
    const ListingRules& rules_;
    OfferRecord& record_;
    bool noted_ = false;
};

std::string or_zero_price(std::string value) {
    return value.empty() ? std::string("0.0000") : value;
}

// ,QQspecIdQQ:QQ...QQ,QQpriceQQ:...,QQretailPriceQQ:...,QQamountOnSaleQQ:...,QQsaleCountQQ:...},
void append_sku_tail(std::string& out, const Answer& a, const std::string& base, Pricer& price) {
    out.append("},").append(kQQ).append("specId").append(kQQ).append(":").append(kQQ);
    append_json_value(out, a.text(base + "specId"));
    out.append(kQQ);
    // The numbers go out as read; only a quote among them is doubled, for the field's sake.
    out.append(",").append(kQQ).append("price").append(kQQ).append(":");
    out.append(double_quotes(price(or_zero_price(a.text(base + "price")))));
    out.append(",").append(kQQ).append("retailPrice").append(kQQ).append(":");
    out.append(double_quotes(price(or_zero_price(a.text(base + "retailPrice")))));
    out.append(",").append(kQQ).append("amountOnSale").append(kQQ).append(":");
    out.append(double_quotes(a.text(base + "canBookCount")));
    out.append(",").append(kQQ).append("saleCount").append(kQQ).append(":");
    out.append(double_quotes(a.text(base + "saleCount")));
    out.append("},");
}

void open_sku_entry(std::string& out) {
    out.append("{").append(kQQ).append("specAttributes").append(kQQ).append(":{");
}

std::string feature_list(Answer& a) {
    std::string out;
    while (a.children("productFeatureList") > 0) {
        append_pair(out, a.text("productFeatureList/fid"), a.text("productFeatureList/value"));
        out.append(",");
        a.remove("productFeatureList");
    }
    return out;
}

// start,,price; per range, in the answer's order.
std::string price_range_list(Answer& a, Pricer& price) {
    std::string out;
    while (a.children("priceRanges") > 0) {
        const std::string range = a.text("priceRanges/range");
        std::string start = text_before(range, "-");
        if (start.empty()) start = text_after_last(range, "≥"_gbk);
        out.append(start).append(",,").append(price(a.text("priceRanges/price"))).append(";");
        a.remove("priceRanges");
    }
    return out;
}

std::string sku_list(Answer& a, Pricer& price) {
    std::string out = "[";
    while (a.children("skuArray") > 0) {
        const std::string dim1_id = a.text("skuArray/fid");
        const std::string dim1_value = a.text("skuArray/value");
        while (a.children("skuArray/children") > 0) {
            open_sku_entry(out);
            append_pair(out, dim1_id, dim1_value);
            out.append(",");
            append_pair(out, a.text("skuArray/children/fid"), a.text("skuArray/children/value"));
            append_sku_tail(out, a, "skuArray/children/", price);
            a.remove("skuArray/children");
        }
        while (!a.text("skuArray/saleCount").empty()) {
            open_sku_entry(out);
            append_pair(out, dim1_id, dim1_value);
            append_sku_tail(out, a, "skuArray/", price);
            a.remove("skuArray/saleCount");
        }
        a.remove("skuArray");
    }
    out.append("]");
    return out;
}

std::string sku_picture_list(Answer& a) {
    std::string out;
    out.append("{").append(kQQ).append("3216").append(kQQ).append(":[");
    std::vector<std::string> names;
    while (a.children("skuPics/3216") > 0) {
        a.doc().child_names(a.path("skuPics/@1"), names);
        out.append("{");
        append_pair(out, names.empty() ? std::string_view() : std::string_view(names.front()),
                    a.text("skuPics/@1/@1"));
        out.append("},");
        a.remove("skuPics/3216");
    }
    out.append("]}");
    return out;
}

// Price ranges as the quoted 1:5.00`10:4.50` form of the package column; the column
// carries its own quotes, so a quote inside is doubled.
std::string final_price_ranges(const std::string& ranges) {
    std::string out = "\"";
    out.append(double_quotes(replace_all(replace_all(ranges, ",,", ":"), ";", "`")));
    out.append("\"");
    return out;
}

// Item SKUs (Taobao item answers only) as price:quantity:outer:props; in document order,
// plus one closing ";". Trimming the growing text only ever touches the leading blanks of
// the newest entry's price, so trimming that price alone gives the same text in linear time.
std::string item_sku_list(const XmlDocument& doc, Pricer& price) {
    static constexpr std::string_view kSkus = "item_get_response/item/skus";
    const int n = doc.child_count(kSkus);
    std::string out;
    std::string base;
    for (int j = 1; j <= n; ++j) {
        base.assign(kSkus).append("/@").append(std::to_string(j));
        out.append(price(trim_left_blanks(doc.node_text(base + "/price")))).append(":");
        out.append(doc.node_text(base + "/quantity")).append(":");
        out.append(doc.node_text(base + "/outer_id")).append(":");
        out.append(doc.node_text(base + "/properties")).append(";");
    }
    out.append(";");
    return double_quotes(out);  // it goes into a quoted field
}

}  // namespace

void extract_offer_fields(XmlDocument& answer, int format, OfferRecord& record,
                          const ListingRules& rules) {
    Answer a(answer);
    record.ruleNotes.clear();
    Pricer price(rules, record);
    record.title = clean_title(a.text("subject"));
    // An empty title keeps a failed answer out of the package; no rule may fill it, and
    // none may empty a real one.
    if (!record.title.empty()) {
        std::string ruled = apply_title_rule(record.title, rules);
        if (!ruled.empty()) {
            record.title = std::move(ruled);
        } else {
            record.ruleNotes.push_back("标题规则会使标题为空，保留原标题"_gbk);
        }
    }
    record.amount = a.text("amount");
    record.productUnitWeight = a.text("productUnitWeight");
    record.retailPrice = price(a.text("retailPrice/amount"));

    if (format != 4) {
        record.skuText = item_sku_list(answer, price);
        record.featureText.clear();
        record.priceRanges.clear();
        record.skuPictures.clear();
        record.amountOnSale.clear();
        record.postCategryId.clear();
        record.sendGoodsId.clear();
        record.freightTemplateId.clear();
        record.termOfferProcess.clear();
        return;
    }

    std::string features = feature_list(a);
    const std::string ranges = price_range_list(a, price);
    // The price ranges, unit and retail price travel as attributes 4341, 1459 and 8021.
    std::string feature_text;
    feature_text.reserve(features.size() + ranges.size() + 64);
    feature_text.append("{").append(features);
    append_pair(feature_text, "4341", ranges);
    feature_text.append(",");
    append_pair(feature_text, "1459", a.text("unit"));
    feature_text.append(",");
    append_pair(feature_text, "8021", record.retailPrice);
    feature_text.append("}");
    record.featureText = std::move(feature_text);

    record.skuText = sku_list(a, price);
    record.skuPictures = sku_picture_list(a);
    record.priceRanges = final_price_ranges(ranges);
    record.amountOnSale = a.text("amountOnSale");
    record.postCategryId = a.text("postCategryId");
    record.sendGoodsId = a.text("sendGoodsId");
    record.freightTemplateId = a.text("freightTemplateId");
    record.termOfferProcess = a.text("termOfferProcess");
}

}  // namespace vq
