#include "api/product_answer.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <unordered_set>

#include "support/encoding.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

using Json = nlohmann::json;

// Answers are read without exceptions: every lookup checks the type it finds.
const Json* member(const Json* object, std::string_view name) {
    if (object == nullptr || !object->is_object()) return nullptr;
    const auto found = object->find(name);
    return found == object->end() ? nullptr : &*found;
}

const Json* first_member(const Json* object, std::initializer_list<std::string_view> names) {
    for (const std::string_view name : names) {
        if (const Json* value = member(object, name)) {
            if (!value->is_null()) return value;
        }
    }
    return nullptr;
}

// Doubles outside this are no price or count of this world; they give an empty value.
constexpr double kMostMagnitude = 1e15;

std::string whole_text(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f", value);
    return text;
}

// At least two decimals; more only when the value has them (at most six).
std::string price_text(double value) {
    if (!std::isfinite(value) || std::fabs(value) > kMostMagnitude) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    std::string out = text;
    const std::size_t dot = out.find('.');
    while (out.size() > dot + 3 && out.back() == '0') out.pop_back();
    if (out == "-0.00") out = "0.00";
    return out;
}

// A count or an id: whole numbers without decimals, others as prices are.
std::string count_text(double value) {
    if (!std::isfinite(value) || std::fabs(value) > kMostMagnitude) return {};
    if (std::floor(value) == value) return whole_text(value);
    return price_text(value);
}

enum class NumberKind { Price, Count };

// The value as text: a JSON string as written, a number in its kind's form, anything else
// empty.
std::string value_text(const Json* value, NumberKind kind = NumberKind::Count) {
    if (value == nullptr) return {};
    switch (value->type()) {
        case Json::value_t::string:
            return utf8_to_gbk(value->get_ref<const std::string&>());
        case Json::value_t::number_integer:
            if (kind == NumberKind::Price) return price_text(static_cast<double>(value->get<std::int64_t>()));
            return std::to_string(value->get<std::int64_t>());
        case Json::value_t::number_unsigned:
            if (kind == NumberKind::Price) return price_text(static_cast<double>(value->get<std::uint64_t>()));
            return std::to_string(value->get<std::uint64_t>());
        case Json::value_t::number_float: {
            const double d = value->get<double>();
            return kind == NumberKind::Price ? price_text(d) : count_text(d);
        }
        case Json::value_t::boolean:
            return value->get<bool>() ? "true" : "false";
        default:
            return {};
    }
}

// Only a JSON string: a picture path that is a number is no path.
std::string string_of(const Json* value) {
    return value && value->is_string() ? utf8_to_gbk(value->get_ref<const std::string&>())
                                       : std::string();
}

std::string text_of(const Json* object, std::initializer_list<std::string_view> names,
                    NumberKind kind = NumberKind::Count) {
    return value_text(first_member(object, names), kind);
}

const Json* array_of(const Json* object, std::initializer_list<std::string_view> names) {
    const Json* value = first_member(object, names);
    return value && value->is_array() ? value : nullptr;
}

const Json* object_of(const Json* object, std::initializer_list<std::string_view> names) {
    const Json* value = first_member(object, names);
    return value && value->is_object() ? value : nullptr;
}

// A picture path of an answer as an address: relative ones joined to the host.
std::string picture_address(const std::string& path, std::string_view host) {
    if (path.empty()) return {};
    const std::string lower = to_lower_ascii(path.substr(0, 8));
    if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) return path;
    if (path.rfind("//", 0) == 0) return "https:" + path;
    std::string out(host);
    if (!out.empty() && out.back() == '/') out.pop_back();
    return out + "/" + (path.front() == '/' ? path.substr(1) : path);
}

// The leading number of a text ("12.50~15.00" gives "12.50"), else empty.
std::string first_price(const std::string& text) {
    std::size_t from = 0;
    while (from < text.size() && (text[from] == ' ' || text[from] == '\t')) ++from;
    std::size_t to = from;
    while (to < text.size() && ((text[to] >= '0' && text[to] <= '9') || text[to] == '.')) ++to;
    return to > from ? text.substr(from, to - from) : std::string();
}

bool is_success(const Json& doc) {
    const Json* success = member(&doc, "success");
    if (success && success->is_boolean()) return success->get<bool>();
    if (success && success->is_string()) return success->get_ref<const std::string&>() == "true";
    return true;
}

std::string lower(std::string text) { return to_lower_ascii(text); }

void classify(PlatformError& error, long httpStatus) {
    const std::string code = lower(error.code);
    const std::string message = lower(error.message);
    const bool aboutToken = contains_text(message, "access_token") ||
                            contains_text(message, "access token") ||
                            contains_text(message, "accesstoken") ||
                            contains_text(code, "accesstoken") || contains_text(code, "access_token");
    error.tokenTrouble = code == "401" || aboutToken ||
                         (httpStatus == 401 && (contains_text(message, "token") || code.empty()));
    error.keyRefused = !error.tokenTrouble &&
                       (contains_text(code, "appkey") || contains_text(code, "signature") ||
                        contains_text(code, "isvnotexist"));
    error.noRelationship = contains_text(error.message, "没有该商品的查询权限"_gbk);
}

// The error a parsed answer carries at one level (the top or "result"); nullopt when there
// is none there.
std::optional<PlatformError> error_at(const Json* level) {
    if (level == nullptr || !level->is_object()) return std::nullopt;
    PlatformError error;
    error.code = text_of(level, {"error_code", "errorCode", "code", "error"});
    error.message = text_of(level, {"error_message", "errorMsg", "errorMessage", "message",
                                    "error_description", "msg"});
    const Json* success = member(level, "success");
    const bool failed = success && ((success->is_boolean() && !success->get<bool>()) ||
                                    (success->is_string() && success->get_ref<const std::string&>() == "false"));
    // An errorMessage beside success:true is a note, not an error.
    const bool flagged = first_member(level, {"error_code", "errorCode", "error"}) != nullptr;
    if (!failed && !(flagged && !(success && success->is_boolean() && success->get<bool>())))
        return std::nullopt;
    // A "code" of 0 or "200" beside success is no error code.
    if (error.message.empty()) error.message = error.code.empty() ? "接口回答失败"_gbk : error.code;
    return error;
}

std::optional<Json> parse(std::string_view body) {
    Json doc = Json::parse(body.begin(), body.end(), nullptr, /*allow_exceptions=*/false);
    if (doc.is_discarded()) return std::nullopt;
    return doc;
}

PlatformError unreadable(long httpStatus) {
    PlatformError error;
    error.message = "接口回答无法解析"_gbk;
    if (httpStatus != 0 && (httpStatus < 200 || httpStatus > 299))
        error.message += "（HTTP "_gbk + std::to_string(httpStatus) + "）"_gbk;
    error.code = httpStatus == 0 ? std::string() : std::to_string(httpStatus);
    classify(error, httpStatus);
    return error;
}

std::optional<PlatformError> error_of(const Json& doc, long httpStatus) {
    std::optional<PlatformError> error = error_at(&doc);
    if (!error) error = error_at(member(&doc, "result"));
    if (!error && httpStatus != 0 && (httpStatus < 200 || httpStatus > 299)) {
        PlatformError status;
        status.code = std::to_string(httpStatus);
        status.message = "接口回答 HTTP "_gbk + status.code;
        error = status;
    }
    if (error) classify(*error, httpStatus);
    return error;
}

struct Groups {
    const char* image;
    const char* sale;
    const char* skus;
    const char* shipping;
    const char* attributes;
};

constexpr Groups kCross{"image", "saleInfo", "skuInfos", "shippingInfo", "attributes"};
constexpr Groups kFenxiao{"productImage", "productSaleInfo", "productSkuInfos",
                          "productShippingInfo", "productAttribute"};

void read_offer(const Json& info, const Groups& g, std::string_view pictureHost,
                OfferRecord& record) {
    // Each group under the shape's name first, the other shape's name as a fallback.
    const auto group = [&](const char* name, const char* other) { return object_of(&info, {name, other}); };
    const auto list = [&](const char* name, const char* other) { return array_of(&info, {name, other}); };
    const bool cross = g.image == kCross.image;
    const Json* sale = group(g.sale, cross ? kFenxiao.sale : kCross.sale);
    const Json* shipping = group(g.shipping, cross ? kFenxiao.shipping : kCross.shipping);
    const Json* image = group(g.image, cross ? kFenxiao.image : kCross.image);
    const Json* skus = list(g.skus, cross ? kFenxiao.skus : kCross.skus);
    const Json* attributes = list(g.attributes, cross ? kFenxiao.attributes : kCross.attributes);

    record.title = text_of(&info, {"subject"});
    record.description = text_of(&info, {"description"});
    record.postCategryId = text_of(&info, {"categoryID", "categoryId"});
    record.termOfferProcess = text_of(&info, {"periodOfValidity"});

    record.retailPrice = text_of(sale, {"retailprice", "retailPrice"}, NumberKind::Price);
    if (record.retailPrice.empty()) record.retailPrice = first_price(text_of(&info, {"referencePrice"}));
    record.amountOnSale = text_of(sale, {"amountOnSale"});
    // The current model has no separate supply total.
    record.amount = record.amountOnSale;
    record.unit = text_of(sale, {"unit"});
    record.priceRanges.clear();
    if (const Json* ranges = array_of(sale, {"priceRanges", "priceRange"})) {
        for (const Json& range : *ranges) {
            if (!range.is_object()) continue;
            record.priceRanges.push_back({text_of(&range, {"startQuantity"}),
                                          text_of(&range, {"price"}, NumberKind::Price)});
        }
    }

    record.features.clear();
    if (attributes) {
        for (const Json& a : *attributes) {
            if (!a.is_object()) continue;
            record.features.push_back({text_of(&a, {"attributeID", "attributeId", "fid"}),
                                       text_of(&a, {"value", "attributeValue"})});
        }
    }

    record.skus.clear();
    record.skuPictures.clear();
    std::unordered_set<std::string> pictured;
    if (skus) {
        for (const Json& s : *skus) {
            if (!s.is_object()) continue;
            OfferSku sku;
            sku.specId = text_of(&s, {"specId"});
            sku.price = text_of(&s, {"price"}, NumberKind::Price);
            sku.retailPrice = text_of(&s, {"retailPrice", "retailprice"}, NumberKind::Price);
            sku.amountOnSale = text_of(&s, {"amountOnSale"});
            // The current model has no per-SKU sale count.
            sku.saleCount = "0";
            if (const Json* attrs = array_of(&s, {"attributes"})) {
                for (const Json& a : *attrs) {
                    if (!a.is_object()) continue;
                    NamedValue named{text_of(&a, {"attributeID", "attributeId"}),
                                     text_of(&a, {"attributeValue", "value", "customValueName"})};
                    const std::string picture =
                        picture_address(string_of(member(&a, "skuImageUrl")), pictureHost);
                    if (!picture.empty() && pictured.insert(named.value).second)
                        record.skuPictures.push_back({named.value, picture});
                    sku.attributes.push_back(std::move(named));
                }
            }
            record.skus.push_back(std::move(sku));
        }
    }
    record.itemSkus.clear();

    record.productUnitWeight = text_of(shipping, {"unitWeight"}, NumberKind::Price);
    record.freightTemplateId = text_of(shipping, {"freightTemplateID", "freightTemplateId"});
    record.sendGoodsId = text_of(shipping, {"sendGoodsAddressId", "sendGoodsAddressID"});

    record.mainPictureAddresses.clear();
    if (const Json* images = array_of(image, {"images"})) {
        for (const Json& picture : *images) {
            record.mainPictureAddresses.push_back(picture_address(string_of(&picture), pictureHost));
        }
    }
}

// As XML text: what the title, description and picture-address steps expect.
std::string xml_text(std::string text) {
    if (text.find_first_of("&<>") == std::string::npos) return text;
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The texts whose cleaning steps read the XML answer's form: the title, the description and
// the picture addresses (a picture's name is made from its address as the answer writes it).
void as_answer_text(OfferRecord& r) {
    for (std::string* text : {&r.title, &r.description}) *text = xml_text(std::move(*text));
    for (SkuPicture& p : r.skuPictures) p.address = xml_text(std::move(p.address));
    for (std::string& address : r.mainPictureAddresses) address = xml_text(std::move(address));
}

}  // namespace

std::optional<PlatformError> read_platform_error(std::string_view body, long httpStatus) {
    const std::optional<Json> doc = parse(body);
    if (!doc || !doc->is_object()) return unreadable(httpStatus);
    return error_of(*doc, httpStatus);
}

ProductAnswer read_product_answer(std::string_view body, long httpStatus, ProductAnswerShape shape,
                                  std::string_view pictureHost, OfferRecord& record) {
    ProductAnswer answer;
    const std::optional<Json> doc = parse(body);
    if (!doc || !doc->is_object()) {
        answer.error = unreadable(httpStatus);
        return answer;
    }
    const Json* info = object_of(&*doc, {"productInfo"});
    if (!info) info = object_of(object_of(&*doc, {"result"}), {"productInfo"});
    std::optional<PlatformError> error = error_of(*doc, httpStatus);
    if (info && !error && is_success(*doc)) {
        read_offer(*info, shape == ProductAnswerShape::Cross ? kCross : kFenxiao, pictureHost, record);
        as_answer_text(record);
        answer.status = text_of(info, {"status"});
        // A missing status is taken as on sale: older answers do not carry it.
        answer.outcome = answer.status.empty() || answer.status == "published"
                             ? ProductAnswer::Outcome::Ok
                             : ProductAnswer::Outcome::NotPublished;
        return answer;
    }
    if (!error) {
        error.emplace();
        error->message = "接口回答中没有商品信息"_gbk;
    }
    answer.error = *error;
    return answer;
}

std::optional<std::int64_t> parse_platform_time(std::string_view text) {
    // yyyyMMddHHmmss followed by a sign and four digits (hours and minutes of the offset).
    if (text.size() != 19 || (text[14] != '+' && text[14] != '-')) return std::nullopt;
    int digits[18];
    int k = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 14) continue;
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        digits[k++] = text[i] - '0';
    }
    const auto number = [&](int from, int count) {
        int n = 0;
        for (int i = from; i < from + count; ++i) n = n * 10 + digits[i];
        return n;
    };
    const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
    const int hour = number(8, 2), minute = number(10, 2), second = number(12, 2);
    const int offset = (number(14, 2) * 60 + number(16, 2)) * 60 * (text[14] == '-' ? -1 : 1);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    // Days from 1970-01-01 to the civil date (proleptic Gregorian), without the C library's
    // time zone.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second - offset;
}

TokenReading read_token_answer(std::string_view body, long httpStatus) {
    TokenReading reading;
    const std::optional<Json> doc = parse(body);
    if (!doc || !doc->is_object()) {
        reading.error = unreadable(httpStatus);
        return reading;
    }
    const std::string access = text_of(&*doc, {"access_token"});
    if (access.empty() || (httpStatus != 0 && (httpStatus < 200 || httpStatus > 299))) {
        std::optional<PlatformError> error = error_of(*doc, httpStatus);
        if (!error) {
            error.emplace();
            error->message = "授权回答中没有 access_token"_gbk;
        }
        reading.error = *error;
        return reading;
    }
    TokenAnswer token;
    token.accessToken = access;
    token.refreshToken = text_of(&*doc, {"refresh_token", "refreshToken"});
    const std::string expires = text_of(&*doc, {"expires_in"});
    token.expiresInSeconds = 0;
    if (!expires.empty() && expires.size() < 12 &&
        expires.find_first_not_of("0123456789") == std::string::npos) {
        token.expiresInSeconds = std::stoll(expires);
    }
    token.refreshTimeoutEpoch = parse_platform_time(text_of(&*doc, {"refresh_token_timeout"})).value_or(0);
    token.resourceOwner = text_of(&*doc, {"resource_owner"});
    token.aliId = text_of(&*doc, {"aliId"});
    token.memberId = text_of(&*doc, {"memberId"});
    reading.token = token;
    return reading;
}

}  // namespace vq
