#pragma once
// Reads the JSON answers of today's product methods (alibaba.cross.productInfo,
// alibaba.fenxiao.productInfo.get), of the relationship method
// (alibaba.cross.syncProductListPushed) and of system.oauth2/getToken. Answers are UTF-8;
// every text handed back is GBK ("?" for what GBK cannot hold). Nothing here throws: values
// of the wrong JSON type, missing groups, nulls and huge numbers give an empty value or a
// failed outcome.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/offer_record.hpp"

namespace vq {

// Where the detail answer keeps its groups.
enum class ProductAnswerShape {
    Cross,    // productInfo.{image, saleInfo, skuInfos, shippingInfo, attributes}
    Fenxiao,  // productInfo.{productImage, productSaleInfo, productSkuInfos,
              //              productShippingInfo, productAttribute}
};

// What an answer of the platform said when it is not a success. Every error form the
// platform uses is read: error_code/error_message (gateway), errorCode/errorMsg or
// errorMessage, success:false with message, code + message; at the top level or inside
// "result".
struct PlatformError {
    std::string code;     // GBK; may be empty
    std::string message;  // GBK; never empty when the error is set (the code, or a text
                          // saying the answer could not be read, stands in)
    // The access token is expired or unknown: a refresh may help.
    bool tokenTrouble = false;
    // The app key is unknown or the signature was refused: the user must fix the key pair.
    bool keyRefused = false;
    // "没有该商品的查询权限": the offer is not in the user's listing relationship.
    bool noRelationship = false;
};

// The outcome of reading a detail answer.
struct ProductAnswer {
    enum class Outcome {
        Ok,            // record filled
        NotPublished,  // record filled, but productInfo.status is not "published"
        Failed,        // an error answer, or no productInfo object: see error
    };
    Outcome outcome = Outcome::Failed;
    std::string status;  // productInfo.status as given (GBK), empty when absent
    PlatformError error;  // set when Failed
};

// Reads a detail answer (body as received, httpStatus the answer's status code) into
// record's plain values: subject → title (as written, not cleaned); saleInfo.priceRanges →
// priceRanges (startQuantity as a whole number, price as a price text);
// saleInfo.retailprice, else referencePrice's first price → retailPrice;
// saleInfo.amountOnSale → amountOnSale and amount (the current model has no separate
// supply total); saleInfo.unit → unit; attributes → features (attributeID, value);
// skuInfos → skus (attributes' attributeID and attributeValue, or attributeName/value in
// older models; specId, price, retailPrice, amountOnSale; saleCount "0"); each distinct
// SKU attribute value with a skuImageUrl → skuPictures (value, address), in first-seen
// order; image.images → mainPictureAddresses; description → description (as written);
// shippingInfo.unitWeight → productUnitWeight, freightTemplateID → freightTemplateId,
// sendGoodsAddressId → sendGoodsId; categoryID → postCategryId; periodOfValidity →
// termOfferProcess. Picture paths that are not absolute (http:// or https://) are joined to
// pictureHost (one "/" between them). Prices and weights are written with at least two
// decimals ("12.50"), counts and ids as whole numbers when whole. A text where a number is
// expected is taken as written; any other wrong type gives an empty value.
// The title, the description and the picture addresses come in the form offer.get's XML
// answer carries them ("&", "<" and ">" as entities), the form their cleaning steps read, so
// that one offer gives the same package from either answer.
// Fields not named here are left as they are.
ProductAnswer read_product_answer(std::string_view body, long httpStatus,
                                  ProductAnswerShape shape, std::string_view pictureHost,
                                  OfferRecord& record);

// An answer that is not a success: the error it carries. A body that is not JSON, or an
// HTTP status outside 2xx without an error in the body, is an error too (its message says
// so, with the status). nullopt for a success.
std::optional<PlatformError> read_platform_error(std::string_view body, long httpStatus);

// A system.oauth2/getToken answer. Numbers may come as JSON strings or numbers.
struct TokenAnswer {
    std::string accessToken;
    std::string refreshToken;           // empty when the answer gives none
    std::int64_t expiresInSeconds = 0;  // 0 when not given
    // refresh_token_timeout ("yyyyMMddHHmmss±zzzz") as seconds since 1970 UTC; 0 when
    // absent or unreadable.
    std::int64_t refreshTimeoutEpoch = 0;
    std::string resourceOwner;  // GBK
    std::string aliId;
    std::string memberId;
};

// The token answer, or the error (an answer without access_token is an error).
struct TokenReading {
    std::optional<TokenAnswer> token;
    PlatformError error;  // set when !token
};
TokenReading read_token_answer(std::string_view body, long httpStatus);

// "yyyyMMddHHmmss±zzzz" as seconds since 1970 UTC; nullopt when it is not that form.
std::optional<std::int64_t> parse_platform_time(std::string_view text);

}  // namespace vq
