// Today's gateway of the stand-in: its refusals in the platform's forms, the listing
// relationship, and the token exchange from the authorize page to a refresh.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "sim_test_support.hpp"

using namespace vq::sim;
using simtest::RunningSim;
using Json = nlohmann::json;
using Fields = std::vector<std::pair<std::string, std::string>>;

namespace {

std::string encoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

struct Platform : RunningSim {
    Platform() : key(sim.catalogue().keys().front()) {}

    // A form POST to /openapi/{protocol}/1/{method}/{appkey}; signed over the joined fields
    // unless the protocol is http.
    httplib::Result call(std::string_view protocol, std::string_view method, Fields fields,
                         std::string appkey = {}, std::string secret = {}) const {
        if (appkey.empty()) appkey = key.appkey;
        if (secret.empty()) secret = key.appsecret;
        const std::string path = std::string(protocol) + "/1/" + std::string(method) + "/" + appkey;
        if (protocol == "param2") {
            std::vector<std::string> joined;
            for (const auto& [n, v] : fields) joined.push_back(n + v);
            std::sort(joined.begin(), joined.end());
            std::string base = path;
            for (const auto& j : joined) base += j;
            fields.emplace_back("_aop_signature", simtest::signature(secret, base));
        }
        std::string body;
        for (const auto& [n, v] : fields) body += (body.empty() ? "" : "&") + n + "=" + encoded(v);
        httplib::Client client("127.0.0.1", port);
        const httplib::Headers headers = {{"Host", "gw.localhost:" + std::to_string(port)}};
        return client.Post(("/openapi/" + path).c_str(), headers, body,
                           "application/x-www-form-urlencoded");
    }

    KeyPair key;
};

Json json_of(const httplib::Result& r) {
    return r ? Json::parse(r->body, nullptr, false) : Json();
}

constexpr const char* kCross = "com.alibaba.product/alibaba.cross.productInfo";
constexpr const char* kFenxiao = "com.alibaba.fenxiao/alibaba.fenxiao.productInfo.get";
constexpr const char* kSync = "com.alibaba.product.push/alibaba.cross.syncProductListPushed";
constexpr const char* kToken = "system.oauth2/getToken";

TEST(OpenPlatform, RefusalsComeInThePlatformsForms) {
    Platform p;
    const std::string token = p.sim.issue_token(p.key.appkey).accessToken;
    const Product& offer = p.sim.catalogue().products().front();
    std::string ids = "[";
    for (int i = 0; i < 21; ++i) ids += (i ? "," : "") + p.sim.catalogue().products()[i].offerId;
    ids += "]";
    struct Case {
        const char* what;
        const char* method;
        Fields fields;
        std::string appkey, secret;
        int status;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"unknown app", kCross, {{"productId", offer.offerId}, {"access_token", token}}, "42", "", 400,
         "gw.AppKeyNotExist"},
        {"wrong secret", kCross, {{"productId", offer.offerId}, {"access_token", token}}, "", "wrong", 400,
         "gw.SignatureInvalid"},
        {"no token", kFenxiao, {{"offerId", offer.offerId}}, "", "", 401, "The access token is invalid"},
        {"no relationship", kCross, {{"productId", offer.offerId}, {"access_token", token}}, "", "", 200,
         "没有该商品的查询权限"},
        {"unknown offer", kCross, {{"productId", "123"}, {"access_token", token}}, "", "", 200, "商品[123]不存在"},
        {"unknown offer", kFenxiao, {{"offerId", "123"}, {"access_token", token}}, "", "", 200, "OFFER_NOT_EXIST"},
        {"no ids", kSync, {{"productIdList", "[]"}, {"access_token", token}}, "", "", 200, "OFFERIDS_IS_NULL"},
        {"21 ids", kSync, {{"productIdList", ids}, {"access_token", token}}, "", "", 200, "OFFERIDS_TOO_MANY"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto r = p.call("param2", c.method, c.fields, c.appkey, c.secret);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status);
        EXPECT_NE(r->body.find(c.says), std::string::npos) << r->body;
    }
    EXPECT_EQ(p.sim.relationship_size(p.key.appkey), 0);

    // Into the relationship, the offer answers; the token then runs out.
    const auto synced = p.call("param2", kSync, {{"productIdList", "[" + offer.offerId + "]"}, {"access_token", token}});
    EXPECT_EQ(json_of(synced)["result"]["success"], true);
    const Json answer = json_of(p.call("param2", kCross, {{"productId", offer.offerId}, {"access_token", token}}));
    EXPECT_EQ(answer["productInfo"]["subject"], offer.title);
    EXPECT_EQ(answer["productInfo"]["status"], "published");
    p.sim.expire_access_tokens();
    const auto expired = p.call("param2", kCross, {{"productId", offer.offerId}, {"access_token", token}});
    EXPECT_EQ(expired->status, 401);
    EXPECT_NE(expired->body.find("expired"), std::string::npos);
}

TEST(OpenPlatform, AnAuthorizationCodeWorksOnceAndTheRefreshTokenRenews) {
    Platform p;
    httplib::Client browser("127.0.0.1", p.port);
    const httplib::Headers auth = {{"Host", "auth.localhost:" + std::to_string(p.port)}};
    const std::string page = "/oauth/authorize?client_id=" + p.key.appkey +
                             "&site=1688&redirect_uri=http%3A%2F%2Flocalhost%2Fcb&state=s1";
    const auto foreign = browser.Get(("/oauth/authorize?client_id=" + p.key.appkey +
                                      "&redirect_uri=http%3A%2F%2Fevil.example%2Fcb&state=s1").c_str(), auth);
    EXPECT_EQ(foreign->status, 400);
    const auto sent = browser.Get(page.c_str(), auth);
    ASSERT_TRUE(sent);
    ASSERT_EQ(sent->status, 302);
    const std::string location = sent->get_header_value("Location");
    ASSERT_EQ(location.rfind("http://localhost/cb?code=", 0), 0u) << location;
    EXPECT_NE(location.find("&state=s1"), std::string::npos);
    const std::string code = location.substr(25, location.find('&') - 25);

    // The documented form: unsigned, on the http path.
    const Fields exchange = {{"grant_type", "authorization_code"}, {"need_refresh_token", "true"},
                             {"client_id", p.key.appkey},      {"client_secret", p.key.appsecret},
                             {"redirect_uri", "http://localhost/cb"}, {"code", code}};
    const Json token = json_of(p.call("http", kToken, exchange));
    ASSERT_TRUE(token.contains("access_token")) << token;
    EXPECT_TRUE(token["expires_in"].is_string());
    EXPECT_EQ(token["refresh_token_timeout"].get<std::string>().size(), 19u);
    const auto again = p.call("http", kToken, exchange);
    EXPECT_EQ(again->status, 401);
    EXPECT_NE(again->body.find("invalid_grant"), std::string::npos);

    // The SDK's form: signed, on param2, the field named refreshToken; no new refresh token.
    const Fields refresh = {{"grant_type", "refresh_token"}, {"client_id", p.key.appkey},
                            {"client_secret", p.key.appsecret},
                            {"refreshToken", token["refresh_token"].get<std::string>()}};
    const Json renewed = json_of(p.call("param2", kToken, refresh));
    ASSERT_TRUE(renewed.contains("access_token")) << renewed;
    EXPECT_NE(renewed["access_token"], token["access_token"]);
    EXPECT_FALSE(renewed.contains("refresh_token"));
    EXPECT_TRUE(json_of(p.call("param2", kToken, refresh)).contains("access_token"));
    p.sim.set_refusing_refresh(true);
    EXPECT_EQ(p.call("param2", kToken, refresh)->status, 401);
}

}  // namespace
