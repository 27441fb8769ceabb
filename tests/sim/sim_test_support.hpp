#pragma once
// Running the stand-in marketplace in-process, and talking to it the way the program does.

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <string>
#include <string_view>

#include "marketplace-sim/marketplace_sim.hpp"

namespace simtest {

inline const std::string kReturnFields =
    "offerId,isPrivate,privateProperties,detailsUrl,type,tradeType,postCategryId,offerStatus,"
    "memberId,subject,details,qualityLevel,imageList,productFeatureList,"
    "isOfferSupportOnlineTrade,tradingType,isSupportMix,unit,priceUnit,amount,amountOnSale,"
    "saledCount,retailPrice,unitPrice,priceRanges,termOfferProcess,freightTemplateId,"
    "sendGoodsId,productUnitWeight,freightType,isSkuOffer,isSkuTradeSupported,skuArray,"
    "gmtCreate,gmtModified,gmtLastRepost,gmtApproved,gmtExpire,skuPics";

// The stand-in on a free port for the length of one test.
struct RunningSim {
    explicit RunningSim(const vq::sim::SimOptions& options = {}) : port(sim.start(options)) {}
    ~RunningSim() { sim.stop(); }

    // GET with "Host: <host>.localhost:<port>"; the target goes out byte for byte.
    httplib::Result get(std::string_view host, const std::string& target,
                        int readTimeoutSeconds = 10) const {
        httplib::Client client("127.0.0.1", port);
        client.set_url_encode(false);
        client.set_read_timeout(readTimeoutSeconds, 0);
        const httplib::Headers headers = {
            {"Host", std::string(host) + ".localhost:" + std::to_string(port)}};
        return client.Get(target.c_str(), headers);
    }

    vq::sim::MarketplaceSim sim;
    int port;
};

// Signed the way the platform documents it, with OpenSSL directly.
inline std::string signature(std::string_view secret, std::string_view base) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), secret.data(), static_cast<int>(secret.size()),
         reinterpret_cast<const unsigned char*>(base.data()), base.size(), digest, &length);
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0x0F];
    }
    return out;
}

inline std::string offer_target(std::string_view appkey, std::string_view secret,
                                std::string_view offerId) {
    const std::string base = "param2/1/cn.alibaba.open/offer.get/" + std::string(appkey) +
                             "_aop_responseFormatofferId" + std::string(offerId) + "returnFields" +
                             kReturnFields;
    return "/openapi/param2/1/cn.alibaba.open/offer.get/" + std::string(appkey) +
           "?offerId=" + std::string(offerId) + "&returnFields=" + kReturnFields +
           "&_aop_responseFormat&_aop_signature=" + signature(secret, base);
}

}  // namespace simtest
