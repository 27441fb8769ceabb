#include "api/site_settings.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "net/http_client.hpp"
#include "support/files.hpp"

using namespace vq;
namespace fs = std::filesystem;

namespace {

class SiteSettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vq-site-XXXXXX";
        dir_ = mkdtemp(tmpl);
        path_ = site_settings_path(dir_);
        ASSERT_TRUE(make_directory(dir_ + "/options"));
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string dir_, path_;
};

TEST_F(SiteSettingsFile, MissingFileGivesTheRealMarketplace) {
    const SiteSettings s = load_site_settings(path_);
    SiteSettings defaults;
    defaults.site_ini = path_;
    EXPECT_EQ(s, defaults);
    EXPECT_EQ(s.gateway_host, "gw.open.1688.com");
    EXPECT_EQ(s.wholesale_detail_host, "detail.1688.com");
    EXPECT_EQ(s.mall_detail_host, "detail.tmall.com");
    EXPECT_EQ(s.item_host, "item.taobao.com");
    EXPECT_EQ(s.http_timeout_seconds, 90);
}

TEST_F(SiteSettingsFile, KeysPresentOverrideTheRestStayDefault) {
    ASSERT_TRUE(write_file_atomic(path_,
                                  "[OTHER]\r\nitem_host=wrong\r\n"
                                  "[site]\r\n"
                                  "Gateway_Host = 127.0.0.1:8080\r\n"
                                  "config_server=http://127.0.0.1:8080/\r\n"
                                  "mall_detail_host=\r\n"
                                  "http_timeout_seconds=7\r\n"));
    SiteSettings expected;
    expected.gateway_host = "127.0.0.1:8080";
    expected.config_server = "http://127.0.0.1:8080/";
    expected.http_timeout_seconds = 7;
    expected.site_ini = path_;
    EXPECT_EQ(load_site_settings(path_), expected);
}

TEST_F(SiteSettingsFile, TimeoutMustBeAPositiveInteger) {
    struct Case {
        std::string text;
        int expected;
    } cases[] = {
        {"30", 30}, {" 45 ", 45}, {"", 90},    {"0", 90},           {"-5", 90},
        {"+5", 90}, {"12s", 90},  {"1.5", 90}, {"99999999999", 90}, {"abc", 90},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(write_file_atomic(path_, "[SITE]\r\nhttp_timeout_seconds=" + c.text + "\r\n"));
        EXPECT_EQ(load_site_settings(path_).http_timeout_seconds, c.expected) << c.text;
    }
}

TEST_F(SiteSettingsFile, TodaysProfilesAndTheirDefaults) {
    EXPECT_EQ(load_site_settings(path_).product_api, ProductApi::OfferGet);
    EXPECT_EQ(gateway_scheme_of(load_site_settings(path_)), "http");
    struct Case {
        std::string text;
        ProductApi api;
        std::string scheme;
        std::string unknown;
    } cases[] = {
        {"product_api=cross.productInfo", ProductApi::CrossProductInfo, "https", ""},
        {"product_api= fenxiao.productInfo ", ProductApi::FenxiaoProductInfo, "https", ""},
        {"product_api=fenxiao.productInfo\r\ngateway_scheme=HTTP", ProductApi::FenxiaoProductInfo,
         "http", ""},
        {"product_api=offer.get\r\ngateway_scheme=https", ProductApi::OfferGet, "https", ""},
        {"product_api=productInfo", ProductApi::OfferGet, "http", "productInfo"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(write_file_atomic(path_, "[SITE]\r\n" + c.text + "\r\n"));
        const SiteSettings s = load_site_settings(path_);
        EXPECT_EQ(s.product_api, c.api) << c.text;
        EXPECT_EQ(gateway_scheme_of(s), c.scheme) << c.text;
        EXPECT_EQ(s.unknown_product_api, c.unknown) << c.text;
    }
    ASSERT_TRUE(write_file_atomic(path_, "[SITE]\r\nca_file=sim/cert.pem\r\npicture_host=http://p/\r\n"));
    const SiteSettings s = load_site_settings(path_);
    EXPECT_EQ(s.ca_file, dir_ + "/options/sim/cert.pem");
    EXPECT_EQ(s.picture_host, "http://p/");
    EXPECT_EQ(SiteSettings{}.picture_host, "https://cbu01.alicdn.com/");
}

TEST(SiteSettings, PathBelowTheProgramFolder) {
    EXPECT_EQ(site_settings_path("/opt/vq"), "/opt/vq/options/site.ini");
    EXPECT_EQ(site_settings_path("/opt/vq/"), "/opt/vq/options/site.ini");
}

TEST(SiteSettings, CurrentSettingsDriveTheClientTimeout) {
    EXPECT_EQ(site_settings(), SiteSettings{});

    SiteSettings s;
    s.gateway_host = "127.0.0.1:9";
    s.http_timeout_seconds = 12;
    set_site_settings(s);
    EXPECT_EQ(site_settings(), s);
    EXPECT_EQ(default_timeout_seconds(), 12);

    s.http_timeout_seconds = 0;
    set_site_settings(s);
    EXPECT_EQ(site_settings().http_timeout_seconds, 90);
    EXPECT_EQ(default_timeout_seconds(), 90);

    set_site_settings(SiteSettings{});
}

}  // namespace
