#include "api/offer_request.hpp"

#include <gtest/gtest.h>

#include <string>

#include "api/site_settings.hpp"

using namespace vq;

namespace {

// Typed out again here so a slip in the program's copy shows.
const std::string kFields =
    "offerId,isPrivate,privateProperties,detailsUrl,type,tradeType,postCategryId,offerStatus,"
    "memberId,subject,details,qualityLevel,imageList,productFeatureList,"
    "isOfferSupportOnlineTrade,tradingType,isSupportMix,unit,priceUnit,amount,amountOnSale,"
    "saledCount,retailPrice,unitPrice,priceRanges,termOfferProcess,freightTemplateId,"
    "sendGoodsId,productUnitWeight,freightType,isSkuOffer,isSkuTradeSupported,skuArray,"
    "gmtCreate,gmtModified,gmtLastRepost,gmtApproved,gmtExpire,skuPics";

std::string signature_of(const std::string& url) {
    const auto at = url.rfind("&_aop_signature=");
    return at == std::string::npos ? "<none>" : url.substr(at + 16);
}

TEST(HmacSha1, Rfc2202Vectors) {
    struct Case {
        std::string key, data, digest;
    } cases[] = {
        {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
        {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {std::string(20, '\xaa'), std::string(50, '\xdd'),
         "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15"
         "\x16\x17\x18\x19",
         std::string(50, '\xcd'), "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {std::string(80, '\xaa'),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
        {"", "", "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d"},
    };
    for (const auto& c : cases) EXPECT_EQ(hmac_sha1_hex(c.key, c.data), c.digest) << c.data;
}

TEST(OfferRequest, SignatureBaseRunsThePiecesTogether) {
    EXPECT_EQ(
        offer_signature_base("123", "k"),
        "param2/1/cn.alibaba.open/offer.get/k_aop_responseFormatofferId123returnFields" + kFields);
}

TEST(OfferRequest, FullAddressWithIndependentSignature) {
    // Signature from: openssl dgst -sha1 -hmac s3cr3tKEY over the base string.
    EXPECT_EQ(build_offer_request("gw.example.test:8080", "586912345678", "1234567", "s3cr3tKEY"),
              "http://gw.example.test:8080/openapi/param2/1/cn.alibaba.open/offer.get/"
              "1234567?offerId=586912345678&returnFields=" +
                  kFields +
                  "&_aop_responseFormat&_aop_signature=256EF153C7B67A40B5EE8B7C0EEB8F6048718331");
}

// An id goes into the request unencoded, so anything but digits would add parameters
// ("&"), cut the request ("#") or break its line: no request is built for it.
TEST(OfferRequest, AnIdThatIsNotDecimalDigitsGivesNoRequest) {
    const std::string ids[] = {"",     "1&_aop_signature=FORGED&x", "12#3", " 12", "12 ",
                               "1\r\n2", "-1", "1.5", "\xA3\xB1\xA3\xB2" /* full-width 12 */};
    for (const std::string& id : ids) {
        EXPECT_EQ(build_offer_request("gw.example.test:8080", id, "1234567", "s3cr3tKEY"), "") << id;
    }
    EXPECT_NE(build_offer_request("gw.example.test:8080", "0123456789", "1234567", "s3cr3tKEY"), "");
}

TEST(OfferRequest, SignatureShapeAndBareResponseFormat) {
    struct Case {
        std::string offer_id, appkey, appsecret;
    } cases[] = {
        {"1", "k", ""},
        {"999999999999", "8888", std::string(200, 's')},
        {"7", "", "x"},
    };
    for (const auto& c : cases) {
        const std::string url = build_offer_request("h", c.offer_id, c.appkey, c.appsecret);
        const std::string sig = signature_of(url);
        EXPECT_EQ(sig.size(), 40u) << url;
        EXPECT_EQ(sig.find_first_not_of("0123456789ABCDEF"), std::string::npos) << sig;
        EXPECT_NE(url.find("&_aop_responseFormat&"), std::string::npos);
        EXPECT_EQ(url.find("_aop_responseFormat="), std::string::npos);
    }
}

TEST(OfferRequest, GoesToTheCurrentGateway) {
    SiteSettings s;
    s.gateway_host = "127.0.0.1:5000";
    set_site_settings(s);
    EXPECT_EQ(build_offer_request("1", "k", "s"),
              build_offer_request("127.0.0.1:5000", "1", "k", "s"));
    EXPECT_EQ(build_offer_request("1", "k", "s").rfind("http://127.0.0.1:5000/openapi/", 0), 0u);
    set_site_settings(SiteSettings{});
}

}  // namespace
