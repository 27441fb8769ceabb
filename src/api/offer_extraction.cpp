#include "api/offer_extraction.hpp"

#include <string>
#include <vector>

#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

class Answer {
public:
    explicit Answer(XmlDocument& doc) : doc_(doc) {}

    std::string text(std::string_view tail) const { return doc_.node_text(path(tail)); }
    // For values the package shows as they are: the answer's own escaping undone, so a
    // seller's "A&B" is not written as "A&amp;B". The title and description keep the
    // answer's form, which their cleaning steps read.
    std::string value(std::string_view tail) const { return decode_xml_entities(text(tail)); }
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

// Applies the price rule to each price of a product; notes the first price it could not
// be used on (one log line per product is enough to send the user looking).
class Pricer {
public:
    Pricer(const ListingRules& rules, OfferRecord& record) : rules_(rules), record_(record) {}

    // Prices the package does not carry are ruled all the same but not noted.
    void set_noting(bool noting) { noting_ = noting; }

    std::string operator()(std::string price) {
        RuledPrice ruled = apply_price_rule(price, rules_);
        if (noting_ && !noted_ && (ruled.outcome == PriceRuleOutcome::NotANumber ||
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
    bool noting_ = true;
};

std::string or_zero_price(std::string value) {
    return value.empty() ? std::string("0.0000") : value;
}

OfferSku sku_at(const Answer& a, const std::string& base) {
    OfferSku sku;
    sku.specId = a.text(base + "specId");
    sku.price = a.text(base + "price");
    sku.retailPrice = a.text(base + "retailPrice");
    sku.amountOnSale = a.text(base + "canBookCount");
    sku.saleCount = a.text(base + "saleCount");
    return sku;
}

std::vector<NamedValue> feature_list(Answer& a) {
    std::vector<NamedValue> out;
    while (a.children("productFeatureList") > 0) {
        out.push_back({a.text("productFeatureList/fid"), a.value("productFeatureList/value")});
        a.remove("productFeatureList");
    }
    return out;
}

// In the answer's order.
std::vector<PriceRange> price_range_list(Answer& a) {
    std::vector<PriceRange> out;
    while (a.children("priceRanges") > 0) {
        const std::string range = a.text("priceRanges/range");
        std::string start = text_before(range, "-");
        if (start.empty()) start = text_after_last(range, "≥"_gbk);
        out.push_back({std::move(start), a.text("priceRanges/price")});
        a.remove("priceRanges");
    }
    return out;
}

std::vector<OfferSku> sku_list(Answer& a) {
    std::vector<OfferSku> out;
    while (a.children("skuArray") > 0) {
        const NamedValue first{a.text("skuArray/fid"), a.value("skuArray/value")};
        while (a.children("skuArray/children") > 0) {
            OfferSku sku = sku_at(a, "skuArray/children/");
            sku.attributes = {first, {a.text("skuArray/children/fid"), a.value("skuArray/children/value")}};
            out.push_back(std::move(sku));
            a.remove("skuArray/children");
        }
        while (!a.text("skuArray/saleCount").empty()) {
            OfferSku sku = sku_at(a, "skuArray/");
            sku.attributes = {first};
            out.push_back(std::move(sku));
            a.remove("skuArray/saleCount");
        }
        a.remove("skuArray");
    }
    return out;
}

std::vector<SkuPicture> sku_picture_list(Answer& a) {
    std::vector<SkuPicture> out;
    std::vector<std::string> names;
    while (a.children("skuPics/3216") > 0) {
        a.doc().child_names(a.path("skuPics/@1"), names);
        out.push_back({names.empty() ? std::string() : names.front(), a.text("skuPics/@1/@1")});
        a.remove("skuPics/3216");
    }
    return out;
}

// Item SKUs (Taobao item answers only), in document order; each price without its leading
// blanks.
std::vector<ItemSku> item_sku_list(const XmlDocument& doc) {
    static constexpr std::string_view kSkus = "item_get_response/item/skus";
    const int n = doc.child_count(kSkus);
    std::vector<ItemSku> out;
    std::string base;
    for (int j = 1; j <= n; ++j) {
        base.assign(kSkus).append("/@").append(std::to_string(j));
        out.push_back({trim_left_blanks(doc.node_text(base + "/price")),
                       doc.node_text(base + "/quantity"), doc.node_text(base + "/outer_id"),
                       doc.node_text(base + "/properties")});
    }
    return out;
}

}  // namespace

std::vector<std::string> main_picture_addresses(XmlDocument& answer) {
    Answer a(answer);
    std::vector<std::string> addresses;
    while (a.children("imageList") > 0) {
        addresses.push_back(a.text("imageList/originalImageURI"));
        if (!answer.remove_node(a.path("imageList"))) break;
    }
    return addresses;
}

void read_offer_fields(XmlDocument& answer, OfferRecord& record) {
    Answer a(answer);
    record.title = a.text("subject");
    record.amount = a.text("amount");
    record.productUnitWeight = a.text("productUnitWeight");
    record.retailPrice = a.text("retailPrice/amount");
    record.features = feature_list(a);
    record.priceRanges = price_range_list(a);
    record.unit = a.value("unit");
    record.skus = sku_list(a);
    record.skuPictures = sku_picture_list(a);
    record.amountOnSale = a.text("amountOnSale");
    record.postCategryId = a.text("postCategryId");
    record.sendGoodsId = a.text("sendGoodsId");
    record.freightTemplateId = a.text("freightTemplateId");
    record.termOfferProcess = a.text("termOfferProcess");
    record.itemSkus = item_sku_list(answer);
    record.mainPictureAddresses = main_picture_addresses(answer);
}

void apply_offer_rules(OfferRecord& record, PackageFormat format, const ListingRules& rules) {
    record.ruleNotes.clear();
    Pricer price(rules, record);
    record.title = clean_title(std::move(record.title));
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
    record.retailPrice = price(std::move(record.retailPrice));

    // The 1688 table carries these; the others carry the item SKUs.
    const bool offerTexts = format == PackageFormat::Alibaba;
    price.set_noting(offerTexts);
    for (PriceRange& range : record.priceRanges) range.price = price(std::move(range.price));
    for (OfferSku& sku : record.skus) {
        sku.price = price(or_zero_price(std::move(sku.price)));
        sku.retailPrice = price(or_zero_price(std::move(sku.retailPrice)));
    }
    price.set_noting(!offerTexts);
    for (ItemSku& sku : record.itemSkus) sku.price = price(std::move(sku.price));
}

void extract_offer_fields(XmlDocument& answer, PackageFormat format, OfferRecord& record,
                          const ListingRules& rules) {
    read_offer_fields(answer, record);
    apply_offer_rules(record, format, rules);
}

}  // namespace vq
