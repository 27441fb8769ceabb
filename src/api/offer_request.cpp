#include "api/offer_request.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "api/site_settings.hpp"
#include "model/batch_model.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr std::string_view kMethodPath = "param2/1/cn.alibaba.open/offer.get/";

}  // namespace

std::string hmac_sha1_hex(std::string_view key, std::string_view data) {
    // Some OpenSSL releases refuse a null key pointer; an empty key must still be a key.
    static const unsigned char kNoKey = 0;
    const void* key_bytes = key.empty() ? &kNoKey : static_cast<const void*>(key.data());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (HMAC(EVP_sha1(), key_bytes, static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest,
             &length) == nullptr ||
        length != 20) {
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

std::string offer_signature_base(std::string_view offer_id, std::string_view appkey) {
    // "_aop_responseFormat" has an empty value, so its name runs straight into "offerId".
    std::string base(kMethodPath);
    base.append(appkey)
        .append("_aop_responseFormatofferId")
        .append(offer_id)
        .append("returnFields")
        .append(kOfferReturnFields);
    return base;
}

std::string build_offer_request(std::string_view gateway_host, std::string_view offer_id,
                                std::string_view appkey, std::string_view appsecret) {
    if (!is_offer_id(offer_id)) return {};
    const std::string signature =
        to_upper_ascii(hmac_sha1_hex(appsecret, offer_signature_base(offer_id, appkey)));
    std::string url = "http://";
    url.append(gateway_host)
        .append("/openapi/")
        .append(kMethodPath)
        .append(appkey)
        .append("?offerId=")
        .append(offer_id)
        .append("&returnFields=")
        .append(kOfferReturnFields)
        .append("&_aop_responseFormat&_aop_signature=")
        .append(signature);
    return url;
}

std::string build_offer_request(std::string_view offer_id, std::string_view appkey,
                                std::string_view appsecret) {
    return build_offer_request(site_settings().gateway_host, offer_id, appkey, appsecret);
}

}  // namespace vq
