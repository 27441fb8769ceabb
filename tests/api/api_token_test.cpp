#include "api/api_token.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "api/product_request.hpp"
#include "support/files.hpp"

using namespace vq;
namespace fs = std::filesystem;

namespace {

TEST(ApiSignature, PublishedCheckValueAndFieldsSortedAsJoined) {
    EXPECT_EQ(api_signature("param2/1/system/currentTime/1000000", {{"b", "2"}, {"a", "1"}}, "test123"),
              "33E54F4F7B989E3E0E912D3FBD2F1A03CA7CCE88");
    // Sorted as joined texts: "ab" + "1" = "ab1" goes before "a" + "z" = "az".
    EXPECT_EQ(api_signature("p", {{"a", "z"}, {"ab", "1"}}, "s"),
              api_signature("p", {{"ab", "1"}, {"a", "z"}}, "s"));
}

TEST(ApiCall, PostsEncodedFieldsToTheMethodPathAndSignsTheirValues) {
    SiteSettings site;
    site.product_api = ProductApi::CrossProductInfo;
    site.gateway_host = "gw.localhost:8443";
    const ApiFields fields = {{"productIdList", "[1,2]"}, {"access_token", "a b&c"}};
    const ApiCall call = build_api_call(site, kSyncProductListPushed, "123", "sec", fields);
    EXPECT_EQ(call.url,
              "https://gw.localhost:8443/openapi/param2/1/com.alibaba.product.push/"
              "alibaba.cross.syncProductListPushed/123");
    EXPECT_EQ(call.body,
              "productIdList=%5B1%2C2%5D&access_token=a%20b%26c&_aop_signature=" +
                  api_signature("param2/1/com.alibaba.product.push/alibaba.cross.syncProductListPushed/123",
                                fields, "sec"));
}

class TokenFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-token-XXXXXX";
        dir_ = mkdtemp(tmpl);
        ASSERT_TRUE(make_directory(dir_ + "/options"));
        path_ = api_token_path(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_, path_;
};

TEST_F(TokenFile, KeptForTheUserOnlyAndReadBackWhole) {
    EXPECT_EQ(path_, dir_ + "/options/token.ini");
    EXPECT_FALSE(load_api_token(path_));
    ApiToken token{"123", "acc", "ref", 1700000000, 1800000000, "shop keeper", "42", "b2b-1"};
    token.resourceOwner = " 前后有空格 ";
    ASSERT_TRUE(save_api_token(path_, token));
    EXPECT_EQ(load_api_token(path_), token);
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A value with a line break would make a key of its own: refused, the old file kept.
    ApiToken broken = token;
    broken.accessToken = "x\r\naccess_token=y";
    EXPECT_FALSE(save_api_token(path_, broken));
    EXPECT_EQ(load_api_token(path_), token);
    EXPECT_TRUE(forget_api_token(path_));
    EXPECT_FALSE(load_api_token(path_));
    EXPECT_TRUE(forget_api_token(path_));
}

TEST(AuthorizeReply, TheAddressTheBrowserWasSentToOrTheCodeAlone) {
    struct Case {
        std::string pasted, code, state;
    } cases[] = {
        {"http://localhost/vq-callback?code=abc-1&state=s1", "abc-1", "s1"},
        {"  http://localhost/cb?x=1&state=s%202&code=c2#top \n", "c2", "s 2"},
        {"code=c3&state=s3", "c3", "s3"},
        {"c4_x.Y", "c4_x.Y", ""},
        {"http://localhost/cb?error=access_denied", "", ""},
        {"not a code", "", ""},
    };
    for (const auto& c : cases) {
        const AuthorizeReply reply = read_authorize_reply(c.pasted);
        EXPECT_EQ(reply.code, c.code) << c.pasted;
        EXPECT_EQ(reply.state, c.state) << c.pasted;
    }
    SiteSettings site;
    site.authorize_url = "https://auth.localhost:1/oauth/authorize";
    site.redirect_uri = "http://localhost/vq-callback";
    EXPECT_EQ(authorize_address(site, "123", "st"),
              "https://auth.localhost:1/oauth/authorize?client_id=123&site=1688&redirect_uri="
              "http%3A%2F%2Flocalhost%2Fvq-callback&state=st");
    EXPECT_NE(random_state(), random_state());
}

TEST(TokenAnswer, ARefreshWithoutARefreshTokenKeepsTheOldOne) {
    TokenAnswer first;
    first.accessToken = "a1";
    first.refreshToken = "r1";
    first.expiresInSeconds = 36000;
    first.refreshTimeoutEpoch = 2000000000;
    first.resourceOwner = "owner";
    const ApiToken token = token_from_answer(first, "123", 1000, nullptr);
    EXPECT_EQ(token.accessExpires, 37000);
    EXPECT_EQ(token.refreshToken, "r1");
    TokenAnswer second;
    second.accessToken = "a2";
    second.expiresInSeconds = 60;
    const ApiToken renewed = token_from_answer(second, "123", 5000, &token);
    EXPECT_EQ(renewed.accessToken, "a2");
    EXPECT_EQ(renewed.accessExpires, 5060);
    EXPECT_EQ(renewed.refreshToken, "r1");
    EXPECT_EQ(renewed.refreshExpires, 2000000000);
    EXPECT_EQ(renewed.resourceOwner, "owner");
}

}  // namespace
