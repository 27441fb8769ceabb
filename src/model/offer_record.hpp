#pragma once
// One product as the marketplace answered for it, in plain values: GBK texts as the seller
// wrote them (no escaping of any package format), lists as lists. The package formats make
// their texts from it in output/.

#include <string>
#include <vector>

namespace vq {

// A name and its value, in the answer's order: an attribute of the offer or of a SKU.
struct NamedValue {
    std::string name;   // the attribute id ("fid")
    std::string value;
};

// A quantity price: from startQuantity pieces on, price each. Texts as the answer has them.
struct PriceRange {
    std::string startQuantity;
    std::string price;
};

// One SKU of an offer answer: the attributes that make it (one or two), its numbers.
struct OfferSku {
    std::vector<NamedValue> attributes;
    std::string specId;
    std::string price;        // empty when the answer gives none
    std::string retailPrice;  // empty when the answer gives none
    std::string amountOnSale;  // the answer's canBookCount
    std::string saleCount;
};

// One SKU of a Taobao item answer.
struct ItemSku {
    std::string price;
    std::string quantity;
    std::string outerId;
    std::string properties;
};

// A SKU picture: the attribute value it shows and its address.
struct SkuPicture {
    std::string name;
    std::string address;
};

struct OfferRecord {
    int productNumber = 0;  // n, 1-based; row n - 1 of the list
    std::string offerId;
    std::string listTitle;
    std::string title;
    std::string amount;
    std::string productUnitWeight;
    std::string retailPrice;
    std::string amountOnSale;
    std::string unit;
    std::vector<PriceRange> priceRanges;
    std::vector<NamedValue> features;
    std::vector<OfferSku> skus;
    std::vector<SkuPicture> skuPictures;
    std::vector<ItemSku> itemSkus;
    std::string postCategryId;
    std::string sendGoodsId;
    std::string freightTemplateId;
    std::string termOfferProcess;
    // The description HTML as the seller wrote it, its pictures pointed at local copies
    // once they are fetched.
    std::string description;
    // The main pictures' addresses as the answer lists them (empty for an entry without
    // one), and the file names (without extension) of those saved, in their order.
    std::vector<std::string> mainPictureAddresses;
    std::vector<std::string> mainPictures;
    // Pictures of this product that could not be fetched or saved (the product still
    // succeeds; the run reports the total).
    int failedPictures = 0;
    // What the listing rules could not do for this product (GBK, one line's text each,
    // without time stamp or line break), for the log.
    std::vector<std::string> ruleNotes;
};

}  // namespace vq
