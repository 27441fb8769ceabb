#pragma once
// Reads the product fields out of a loaded offer.get answer into the product's record.

#include <string_view>

#include "model/batch_model.hpp"
#include "support/xml_document.hpp"

namespace vq {

// Where the product lies in an offer.get answer.
inline constexpr std::string_view kAnswerPrefix = "rsp/Responses/Response/Result/result/toReturn/";

// Fills title (cleaned), amount, productUnitWeight and retailPrice, and for format 4 the
// attribute, price-range, SKU and SKU-picture texts (quotes already doubled for a quoted
// field) and the format-4-only fields; for format 5 skuText from the item SKU list.
// Consumes productFeatureList, priceRanges, skuArray and skuPics from the answer.
// Missing elements give empty texts; nothing fails.
// The listing rules apply to the cleaned title and to every price the row carries (the
// retail price, the price-range prices, each SKU's price and retail price, the item SKU
// prices); what they could not do goes to record.ruleNotes.
void extract_offer_fields(XmlDocument& answer, int format, OfferRecord& record,
                          const ListingRules& rules = {});

}  // namespace vq
