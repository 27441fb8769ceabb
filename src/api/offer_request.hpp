#pragma once
// The signed GET address of the Open Platform method offer.get (namespace cn.alibaba.open,
// protocol param2, version 1). Building it needs no network; nothing is percent-encoded.

#include <string>
#include <string_view>

namespace vq {

// The fields asked for, sent as one unencoded text. "postCategryId" is the platform's spelling.
inline constexpr std::string_view kOfferReturnFields =
    "offerId,isPrivate,privateProperties,detailsUrl,type,tradeType,postCategryId,offerStatus,"
    "memberId,subject,details,qualityLevel,imageList,productFeatureList,"
    "isOfferSupportOnlineTrade,tradingType,isSupportMix,unit,priceUnit,amount,amountOnSale,"
    "saledCount,retailPrice,unitPrice,priceRanges,termOfferProcess,freightTemplateId,"
    "sendGoodsId,productUnitWeight,freightType,isSkuOffer,isSkuTradeSupported,skuArray,"
    "gmtCreate,gmtModified,gmtLastRepost,gmtApproved,gmtExpire,skuPics";

// HMAC-SHA1 of data keyed with key (both taken byte for byte) as 40 lower-case hex digits;
// empty when the digest cannot be computed.
std::string hmac_sha1_hex(std::string_view key, std::string_view data);

// The text that is signed: the request path after "/openapi/" and each parameter's name
// followed by its value, sorted by name, with no separators.
std::string offer_signature_base(std::string_view offer_id, std::string_view appkey);

// The complete request to gateway_host (host[:port]), signed with appsecret in upper-case
// hex. When no signature can be computed the address still comes back, ending in
// "_aop_signature=" with an empty value. Empty (nothing to send) when offer_id is not
// decimal digits: it would add parameters to the signed request or cut it.
std::string build_offer_request(std::string_view gateway_host, std::string_view offer_id,
                                std::string_view appkey, std::string_view appsecret);

// The same, to the current site settings' gateway host.
std::string build_offer_request(std::string_view offer_id, std::string_view appkey,
                                std::string_view appsecret);

}  // namespace vq
