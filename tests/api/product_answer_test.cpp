#include "api/product_answer.hpp"

#include <gtest/gtest.h>

#include "content/description.hpp"
#include "support/encoding.hpp"

using namespace vq;

namespace {

std::string gbk(std::string_view utf8) { return utf8_to_gbk(utf8); }

constexpr std::string_view kHost = "https://cbu01.alicdn.com/";

// An answer as the platform's model describes it: a two-level SKU whose colour has a
// picture, relative picture paths, numbers of every JSON kind.
constexpr std::string_view kCross = R"({"productInfo":{"productID":526415838394,
 "subject":"不锈钢\"拖鞋\" &amp; 礼盒","status":"published","categoryID":1031910,
 "periodOfValidity":1,"referencePrice":"12.50~15.00",
 "description":"<p>批发</p><img src=\"https://img.example/a.jpg\">",
 "attributes":[{"attributeID":287,"attributeName":"材质","value":"不锈钢","isCustom":false},
               {"attributeID":"1398","value":"a,b"}],
 "saleInfo":{"priceRanges":[{"startQuantity":2,"price":12.5},{"startQuantity":50,"price":11}],
             "retailprice":16.25,"amountOnSale":4500.0,"unit":"双","quoteType":1},
 "skuInfos":[{"skuId":1,"specId":"abc","price":12.5,"retailPrice":16.3,"amountOnSale":7,
              "attributes":[{"attributeID":3216,"attributeValue":"红色","skuImageUrl":"img/ibank/r.jpg"},
                            {"attributeID":450,"attributeValue":"38"}]},
             {"skuId":2,"specId":"def","amountOnSale":0,
              "attributes":[{"attributeID":3216,"attributeValue":"红色","skuImageUrl":"img/ibank/r.jpg"},
                            {"attributeID":450,"attributeName":"尺码","value":"39"}]}],
 "image":{"images":["img/ibank/1.jpg","/img/ibank/2.jpg","https://other.example/3.jpg"]},
 "shippingInfo":{"unitWeight":0.3,"freightTemplateID":3000123,"sendGoodsAddressId":2}},
 "bizGroupInfos":[],"success":true})";

TEST(ProductAnswer, ACrossAnswerFillsTheOfferAsTheXmlReaderWould) {
    OfferRecord r;
    const ProductAnswer a = read_product_answer(kCross, 200, ProductAnswerShape::Cross, kHost, r);
    ASSERT_EQ(a.outcome, ProductAnswer::Outcome::Ok);
    // Texts as offer.get's XML carries them: the description steps give back what the
    // seller wrote.
    EXPECT_EQ(r.title, gbk("不锈钢\"拖鞋\" &amp;amp; 礼盒"));
    EXPECT_EQ(rewrite_description_text(r.description),
              gbk("<p>批发</p><img src=\"https://img.example/a.jpg\">"));
    EXPECT_EQ(r.postCategryId, "1031910");
    EXPECT_EQ(r.termOfferProcess, "1");
    EXPECT_EQ(r.retailPrice, "16.25");
    EXPECT_EQ(r.amountOnSale, "4500");
    EXPECT_EQ(r.amount, "4500");
    EXPECT_EQ(r.unit, gbk("双"));
    ASSERT_EQ(r.priceRanges.size(), 2u);
    EXPECT_EQ(r.priceRanges[0].startQuantity, "2");
    EXPECT_EQ(r.priceRanges[0].price, "12.50");
    EXPECT_EQ(r.priceRanges[1].price, "11.00");
    ASSERT_EQ(r.features.size(), 2u);
    EXPECT_EQ(r.features[0].name, "287");
    EXPECT_EQ(r.features[0].value, gbk("不锈钢"));
    EXPECT_EQ(r.features[1].name, "1398");
    ASSERT_EQ(r.skus.size(), 2u);
    EXPECT_EQ(r.skus[0].specId, "abc");
    EXPECT_EQ(r.skus[0].price, "12.50");
    EXPECT_EQ(r.skus[0].retailPrice, "16.30");
    EXPECT_EQ(r.skus[0].amountOnSale, "7");
    EXPECT_EQ(r.skus[0].saleCount, "0");
    ASSERT_EQ(r.skus[0].attributes.size(), 2u);
    EXPECT_EQ(r.skus[0].attributes[0].name, "3216");
    EXPECT_EQ(r.skus[0].attributes[0].value, gbk("红色"));
    // The older model's names are read too; a SKU without prices has empty ones.
    EXPECT_EQ(r.skus[1].attributes[1].value, "39");
    EXPECT_EQ(r.skus[1].price, "");
    // One picture per SKU value, joined to the picture host.
    ASSERT_EQ(r.skuPictures.size(), 1u);
    EXPECT_EQ(r.skuPictures[0].name, gbk("红色"));
    EXPECT_EQ(r.skuPictures[0].address, "https://cbu01.alicdn.com/img/ibank/r.jpg");
    EXPECT_EQ(r.mainPictureAddresses,
              (std::vector<std::string>{"https://cbu01.alicdn.com/img/ibank/1.jpg",
                                        "https://cbu01.alicdn.com/img/ibank/2.jpg",
                                        "https://other.example/3.jpg"}));
    EXPECT_EQ(r.productUnitWeight, "0.30");
    EXPECT_EQ(r.freightTemplateId, "3000123");
    EXPECT_EQ(r.sendGoodsId, "2");
}

TEST(ProductAnswer, TheFenxiaoGroupsAndTheStatus) {
    const std::string body = R"({"productInfo":{"subject":"T","status":"expired","referencePrice":"9.9",
      "productImage":{"images":["a.jpg"]},"productSaleInfo":{"amountOnSale":3,"unit":"件"},
      "productSkuInfos":[{"specId":"s","price":"8.8","attributes":[{"attributeID":1,"attributeValue":"v"}]}],
      "productShippingInfo":{"unitWeight":1},"productAttribute":[{"attributeID":2,"value":"x"}]},"success":true})";
    OfferRecord r;
    const ProductAnswer a = read_product_answer(body, 200, ProductAnswerShape::Fenxiao, "http://p:1", r);
    EXPECT_EQ(a.outcome, ProductAnswer::Outcome::NotPublished);
    EXPECT_EQ(a.status, "expired");
    EXPECT_EQ(r.mainPictureAddresses, std::vector<std::string>{"http://p:1/a.jpg"});
    EXPECT_EQ(r.retailPrice, "9.9");  // from referencePrice, as written
    EXPECT_EQ(r.amountOnSale, "3");
    ASSERT_EQ(r.skus.size(), 1u);
    EXPECT_EQ(r.skus[0].price, "8.8");  // a text where a number should be: as written
    EXPECT_EQ(r.productUnitWeight, "1.00");
    ASSERT_EQ(r.features.size(), 1u);
    EXPECT_EQ(r.features[0].value, "x");
}

TEST(ProductAnswer, EveryErrorFormEndsAsTheProductsFailureInThePlatformsWords) {
    struct Case {
        std::string body;
        long status;
        std::string code, message;
        bool token, key, relation;
    } cases[] = {
        {R"({"error_code":"gw.SignatureInvalid","error_message":"Signature is invalid","request_id":"1"})",
         400, "gw.SignatureInvalid", "Signature is invalid", false, true, false},
        {R"({"error_code":"gw.AppKeyNotExist","error_message":"AppKey is not exist"})", 400,
         "gw.AppKeyNotExist", "AppKey is not exist", false, true, false},
        {R"({"error_code":"401","error_message":"The access token is expired"})", 401, "401",
         "The access token is expired", true, false, false},
        {R"({"success":false,"errorCode":"NO_PERMISSION","errorMsg":"没有该商品的查询权限"})", 200,
         "NO_PERMISSION", gbk("没有该商品的查询权限"), false, false, true},
        {R"({"success":false,"message":"商品[1]不存在"})", 200, "", gbk("商品[1]不存在"), false, false, false},
        {R"({"result":{"success":false,"code":"OFFER_NOT_EXIST","message":"商品不存在"}})", 200,
         "OFFER_NOT_EXIST", gbk("商品不存在"), false, false, false},
        {R"({"result":{"success":"false","errorCode":"E","errorMessage":"m"}})", 200, "E", "m", false, false, false},
        {R"({"error":"invalid_grant","error_description":"refresh token expired"})", 401, "invalid_grant",
         "refresh token expired", true, false, false},
        {"<html>502 Bad Gateway</html>", 502, "502", gbk("接口回答无法解析（HTTP 502）"), false, false, false},
        {"", 200, "200", gbk("接口回答无法解析"), false, false, false},
        {R"({"success":true})", 200, "", gbk("接口回答中没有商品信息"), false, false, false},
        {R"({"success":true,"productInfo":{}})", 503, "503", gbk("接口回答 HTTP 503"), false, false, false},
    };
    for (const Case& c : cases) {
        OfferRecord r;
        const ProductAnswer a = read_product_answer(c.body, c.status, ProductAnswerShape::Cross, kHost, r);
        EXPECT_EQ(a.outcome, ProductAnswer::Outcome::Failed) << c.body;
        EXPECT_EQ(a.error.code, c.code) << c.body;
        EXPECT_EQ(a.error.message, c.message) << c.body;
        EXPECT_EQ(a.error.tokenTrouble, c.token) << c.body;
        EXPECT_EQ(a.error.keyRefused, c.key) << c.body;
        EXPECT_EQ(a.error.noRelationship, c.relation) << c.body;
    }
    EXPECT_FALSE(read_platform_error(R"({"result":{"success":true}})", 200));
    EXPECT_TRUE(read_platform_error(R"({"result":{"success":false,"errorCode":"OFFERIDS_IS_NULL"}})", 200));
    // A note beside a success is no error.
    EXPECT_FALSE(read_platform_error(R"({"success":true,"errorMessage":"note"})", 200));
}

// Values of the wrong type, nulls, missing groups and numbers beyond any price: an empty
// value, never a crash or a number in exponent form.
TEST(ProductAnswer, OddValuesGiveEmptyValues) {
    struct Case {
        std::string info;
        std::string title, retail, amount, weight;
        std::size_t ranges, skus, pictures;
    } cases[] = {
        {R"({"subject":null,"saleInfo":null,"image":{"images":null}})", "", "", "", "", 0, 0, 0},
        {R"({"subject":["x"],"saleInfo":{"retailprice":{"a":1},"amountOnSale":1e300,"priceRanges":{}},"skuInfos":"x"})",
         "", "", "", "", 0, 0, 0},
        {R"({"subject":7,"saleInfo":{"retailprice":1e16,"amountOnSale":-3,"priceRanges":[null,1,{"price":"x"}]},
             "skuInfos":[null,{"attributes":[null,{"skuImageUrl":5}]}],"image":{"images":[null,3,"a.jpg"]},
             "shippingInfo":{"unitWeight":123456789012345678901234567890}})",
         "7", "", "-3", "", 1, 1, 3},
        {R"({"saleInfo":{"retailprice":0.000001,"amountOnSale":18446744073709551615}})", "", "0.000001",
         "18446744073709551615", "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        OfferRecord r;
        const ProductAnswer a = read_product_answer(R"({"success":true,"productInfo":)" + c.info + "}", 200,
                                                    ProductAnswerShape::Cross, kHost, r);
        EXPECT_EQ(a.outcome, ProductAnswer::Outcome::Ok) << c.info;
        EXPECT_EQ(r.title, c.title) << c.info;
        EXPECT_EQ(r.retailPrice, c.retail) << c.info;
        EXPECT_EQ(r.amountOnSale, c.amount) << c.info;
        EXPECT_EQ(r.productUnitWeight, c.weight) << c.info;
        EXPECT_EQ(r.priceRanges.size(), c.ranges) << c.info;
        EXPECT_EQ(r.skus.size(), c.skus) << c.info;
        EXPECT_EQ(r.mainPictureAddresses.size(), c.pictures) << c.info;
        EXPECT_TRUE(r.skuPictures.empty()) << c.info;
    }
}

TEST(TokenAnswer, StringsOrNumbersAndThePlatformsTime) {
    const TokenReading a = read_token_answer(
        R"({"aliId":"8","resource_owner":"店主","memberId":"b2b-1","expires_in":"36000",
            "refresh_token":"r","access_token":"a","refresh_token_timeout":"20121222222222+0800"})", 200);
    ASSERT_TRUE(a.token);
    EXPECT_EQ(a.token->accessToken, "a");
    EXPECT_EQ(a.token->refreshToken, "r");
    EXPECT_EQ(a.token->expiresInSeconds, 36000);
    EXPECT_EQ(a.token->refreshTimeoutEpoch, 1356186142);
    EXPECT_EQ(a.token->resourceOwner, gbk("店主"));
    const TokenReading b = read_token_answer(R"({"access_token":"a","expires_in":60})", 200);
    ASSERT_TRUE(b.token);
    EXPECT_EQ(b.token->expiresInSeconds, 60);
    EXPECT_TRUE(b.token->refreshToken.empty());
    const TokenReading refused =
        read_token_answer(R"({"error_code":"invalid_grant","error_message":"code is invalid"})", 401);
    EXPECT_FALSE(refused.token);
    EXPECT_EQ(refused.error.message, "code is invalid");

    struct Time {
        std::string text;
        std::optional<std::int64_t> epoch;
    } times[] = {
        {"20121222222222+0800", 1356186142}, {"19700101000000+0000", 0},
        {"20240229120000-0130", 1709213400}, {"20121222222222", std::nullopt},
        {"2012122222222a+0800", std::nullopt}, {"20121322222222+0800", std::nullopt},
    };
    for (const Time& t : times) EXPECT_EQ(parse_platform_time(t.text), t.epoch) << t.text;
}

}  // namespace
