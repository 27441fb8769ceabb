#pragma once
// Reads the product fields out of a loaded offer.get answer into the product's record.

#include <string_view>

#include "model/batch_model.hpp"
#include "support/xml_document.hpp"

namespace vq {

// Where the product lies in an offer.get answer.
inline constexpr std::string_view kAnswerPrefix = "rsp/Responses/Response/Result/result/toReturn/";

// Reads the offer into plain values: title (cleaned), amount, unit weight, retail price,
// amount on sale, unit, the price ranges, attributes, SKUs and SKU pictures, the item SKUs
// of an item answer, and the category, send-goods, freight and term ids. Consumes
// productFeatureList, priceRanges, skuArray and skuPics from the answer. Missing elements
// give empty values; nothing fails.
// The listing rules apply to the cleaned title and to every price (the retail price, the
// price-range prices, each SKU's price and retail price, the item SKU prices); what they
// could not do goes to record.ruleNotes, for the prices the format's package carries.
void extract_offer_fields(XmlDocument& answer, PackageFormat format, OfferRecord& record,
                          const ListingRules& rules = {});

// The two halves of extract_offer_fields: the answer's values as they are (title as the
// seller wrote it, SKU prices empty when the answer has none), then the title cleaning and
// the listing rules, which every source of offers shares.
void read_offer_fields(XmlDocument& answer, OfferRecord& record);
void apply_offer_rules(OfferRecord& record, PackageFormat format, const ListingRules& rules);

// The answer's main picture addresses (imageList/originalImageURI) in their order, an entry
// without an address as an empty one; consumes the imageList entries.
std::vector<std::string> main_picture_addresses(XmlDocument& answer);

}  // namespace vq
