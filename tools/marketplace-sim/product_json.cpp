#include "marketplace-sim/product_json.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>

#include "marketplace-sim/gateway.hpp"
#include "marketplace-sim/shop_pages.hpp"

namespace vq::sim {
namespace {

using Json = nlohmann::ordered_json;

// An id the model types as Long: a number when it is one.
Json long_or_text(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return text;
    return std::stoll(text);
}

// A Double of the model; an empty or unreadable value is left out by the caller.
bool add_double(Json& object, const char* name, const std::string& text) {
    if (text.empty()) return false;
    std::size_t used = 0;
    double value = 0;
    try {
        value = std::stod(text, &used);
    } catch (...) {
        used = 0;
    }
    if (used != text.size()) {
        object[name] = text;  // a seller's odd value goes out as it is
    } else {
        object[name] = value;
    }
    return true;
}

std::string relative_or_whole(const PictureRef& picture, int port) {
    if (picture.host == PictureHost::Plain && picture.htmlQuery.empty())
        return picture.path.substr(picture.path.front() == '/' ? 1 : 0);
    return picture_address(picture, port);
}

// "≥10" or "10-49": the start quantity.
Json start_quantity(const std::string& range) {
    const std::string_view geq = "≥";
    std::string start = range.rfind(geq, 0) == 0 ? range.substr(geq.size()) : range.substr(0, range.find('-'));
    return long_or_text(start);
}

Json sku_info(const std::vector<const SkuItem*>& levels, int port,
              const std::map<std::string, const PictureRef*>& pictures, std::int64_t skuId) {
    const SkuItem& leaf = *levels.back();
    Json sku = Json::object();
    sku["skuId"] = skuId;
    sku["specId"] = leaf.specId;
    add_double(sku, "price", leaf.price);
    add_double(sku, "retailPrice", leaf.retailPrice);
    sku["amountOnSale"] = long_or_text(leaf.canBookCount);
    sku["cargoNumber"] = "";
    Json attributes = Json::array();
    for (const SkuItem* level : levels) {
        Json a = Json::object();
        a["attributeID"] = long_or_text(level->fid);
        a["attributeValue"] = level->value;
        a["attributeDisplayName"] = level->fid == "3216" ? "颜色" : "尺码";
        const auto picture = pictures.find(level->value);
        if (picture != pictures.end()) a["skuImageUrl"] = relative_or_whole(*picture->second, port);
        attributes.push_back(std::move(a));
    }
    sku["attributes"] = std::move(attributes);
    return sku;
}

}  // namespace

std::string product_json(const Product& p, int port, ProductShape shape, std::string_view status) {
    const bool cross = shape == ProductShape::Cross;
    Json info = Json::object();
    info["productID"] = long_or_text(p.offerId);
    info["subject"] = p.title;
    info["status"] = std::string(status);
    info["categoryID"] = long_or_text(p.postCategryId);
    info["description"] = description_html(p, port);
    info["periodOfValidity"] = long_or_text(p.termOfferProcess);
    info["referencePrice"] = p.price;

    Json attributes = Json::array();
    for (const Feature& f : p.features) {
        Json a = Json::object();
        a["attributeID"] = long_or_text(f.fid);
        a["attributeName"] = f.name;
        a["value"] = f.value;
        a["isCustom"] = false;
        attributes.push_back(std::move(a));
    }

    Json sale = Json::object();
    Json ranges = Json::array();
    for (const PriceRange& r : p.priceRanges) {
        Json range = Json::object();
        range["startQuantity"] = start_quantity(r.range);
        add_double(range, "price", r.price);
        ranges.push_back(std::move(range));
    }
    sale["priceRanges"] = std::move(ranges);
    add_double(sale, "retailprice", p.retailPrice);
    add_double(sale, "amountOnSale", p.amountOnSale);
    sale["unit"] = p.unit;
    sale["quoteType"] = p.skus.empty() ? 0 : 1;
    sale["minOrderQuantity"] = 1;

    std::map<std::string, const PictureRef*> pictures;
    for (const SkuPicture& s : p.skuPictures) pictures.emplace(s.name, &s.picture);
    Json skus = Json::array();
    std::int64_t skuId = std::stoll(p.offerId) % 1000000 * 100;
    for (const SkuItem& s : p.skus) {
        if (s.children.empty()) {
            skus.push_back(sku_info({&s}, port, pictures, ++skuId));
        } else {
            for (const SkuItem& c : s.children) skus.push_back(sku_info({&s, &c}, port, pictures, ++skuId));
        }
    }

    Json images = Json::array();
    for (const PictureRef& picture : p.mainPictures) images.push_back(relative_or_whole(picture, port));
    Json image = Json::object();
    image["images"] = std::move(images);

    Json shipping = Json::object();
    add_double(shipping, "unitWeight", p.productUnitWeight);
    shipping["freightTemplateID"] = long_or_text(p.freightTemplateId);
    shipping["sendGoodsAddressId"] = long_or_text(p.sendGoodsId);
    shipping["sendGoodsAddressText"] = "浙江省 金华市";

    info[cross ? "attributes" : "productAttribute"] = std::move(attributes);
    info[cross ? "saleInfo" : "productSaleInfo"] = std::move(sale);
    info[cross ? "skuInfos" : "productSkuInfos"] = std::move(skus);
    info[cross ? "image" : "productImage"] = std::move(image);
    info[cross ? "shippingInfo" : "productShippingInfo"] = std::move(shipping);

    Json doc = Json::object();
    doc["productInfo"] = std::move(info);
    if (cross) doc["bizGroupInfos"] = Json::array();
    doc["success"] = true;
    return doc.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace vq::sim
