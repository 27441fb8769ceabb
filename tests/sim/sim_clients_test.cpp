// The program's own clients against the stand-in marketplace: what start-up, the listing
// readers and the workers will do, end to end over loopback.

#include <gtest/gtest.h>

#include <filesystem>

#include "api/offer_request.hpp"
#include "api/site_settings.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/markers.hpp"
#include "support/xml_document.hpp"

namespace vq {
namespace {

const std::string kAnswer = "rsp/Responses/Response/Result/result/toReturn/";

class SimWithClients : public ::testing::Test {
protected:
    void SetUp() override {
        sim::SimOptions options;
        options.seed = 11;
        options.shops = 4;
        options.productsPerShop = 25;
        ASSERT_GT(sim_.start(options), 0);
        const auto folder = std::filesystem::path(::testing::TempDir()) / "vq_sim_clients";
        std::filesystem::create_directories(folder);
        const std::string ini = (folder / "site.ini").string();
        ASSERT_TRUE(write_file_atomic(ini, sim_.site_ini()));
        set_site_settings(load_site_settings(ini));
    }
    void TearDown() override {
        sim_.stop();
        set_site_settings(SiteSettings{});
    }

    // Key pairs as start-up reads them from the configuration document.
    std::vector<std::pair<std::string, std::string>> key_pairs() {
        XmlDocument doc;
        doc.load_bytes(fetch_via_request_object(site_settings().config_server + "/logo.xml"));
        std::vector<std::pair<std::string, std::string>> pairs;
        for (int i = 1; i <= doc.child_count("@1"); ++i) {
            const std::string path = "@1/@" + std::to_string(i);
            pairs.emplace_back(doc.attribute_text(path, "appkey"),
                               doc.attribute_text(path, "appsecret"));
        }
        return pairs;
    }

    sim::MarketplaceSim sim_;
};

TEST_F(SimWithClients, SignedRequestsAreAnsweredAndBadOnesGetAMessage) {
    const auto pairs = key_pairs();
    ASSERT_EQ(pairs.size(), sim_.catalogue().keys().size());
    const sim::Product& product = sim_.catalogue().products().front();

    XmlDocument answer;
    for (const auto& [appkey, appsecret] : pairs) {
        const std::string body =
            fetch_with_timeout(build_offer_request(product.offerId, appkey, appsecret));
        ASSERT_TRUE(answer.load_bytes(body));
        EXPECT_EQ(answer.node_text("@1/msg"), "");
        EXPECT_EQ(answer.node_text(kAnswer + "offerId"), product.offerId);
        // The answer declares UTF-8; the document hands back GBK.
        EXPECT_EQ(gbk_to_utf8(answer.node_text(kAnswer + "subject")), product.title);
        EXPECT_GT(answer.child_count(kAnswer + "imageList"), 0);
    }

    const auto& [appkey, appsecret] = pairs.front();
    const std::string bad[] = {
        build_offer_request(product.offerId, appkey, appsecret + "x"),
        build_offer_request(product.offerId, appkey + "9", appsecret),
        build_offer_request("1", appkey, appsecret),
    };
    for (const std::string& url : bad) {
        SCOPED_TRACE(url);
        ASSERT_TRUE(answer.load_bytes(fetch_with_timeout(url)));
        EXPECT_NE(answer.node_text("@1/msg"), "");
        EXPECT_EQ(answer.node_text(kAnswer + "subject"), "");
    }
}

TEST_F(SimWithClients, ShopsProductPagesAndPicturesAreReachableByName) {
    const std::string port = std::to_string(sim_.port());
    const std::string offer_list =
        fetch_with_timeout("http://shop1.localhost:" + port + "/page/offerlist.htm");
    const int products = static_cast<int>(sim_.catalogue().shops().front().products.size());
    EXPECT_EQ(scrape_between(offer_list, "offer-count\">", "</em>条"_gbk),
              std::to_string(products));

    const sim::Product& product = sim_.catalogue().products().front();
    const std::string page = fetch_with_timeout("http://" + site_settings().wholesale_detail_host +
                                                "/offer/" + product.offerId + ".html");
    EXPECT_EQ(scrape_between(page, "offer_id:\"", "\","), product.offerId);

    XmlDocument answer;
    const auto pairs = key_pairs();
    answer.load_bytes(
        fetch_with_timeout(build_offer_request(product.offerId, pairs[0].first, pairs[0].second)));
    const std::string picture =
        fetch_picture(answer.node_text(kAnswer + "imageList/originalImageURI"));
    ASSERT_GE(picture.size(), 4u);
    const std::string magic = picture.substr(0, 4);
    EXPECT_TRUE(magic.substr(0, 2) == "\xFF\xD8" || magic == "\x89PNG" || magic == "GIF8" ||
                magic.substr(0, 2) == "BM")
        << magic;
}

}  // namespace
}  // namespace vq
