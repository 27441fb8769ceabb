#include "run/offer_pipeline.hpp"
#include "net/capture_server.hpp"
#include "run_fixture.hpp"
#include "source/listing_reader.hpp"
#include "support/gbk_literal.hpp"

namespace {

using runtest::RunFixture;
using vq::operator""_gbk;

class OfferPipelineTest : public RunFixture {
protected:
    vq::ProductPipeline make_pipeline(int worker = 1) {
        state.outputFormat = *vq::format_from_number(5);
        state.set_output(folder.path + "/", "pkg");
        state.reset_run(list.row_count());
        vq::RunEnvironment environment;
        environment.list = &list;
        environment.state = &state;
        environment.options = &options;
        environment.log = &log;
        environment.settings.packageFolder = package_folder();
        environment.settings.outputFormat = *vq::format_from_number(5);
        return vq::ProductPipeline(worker, environment);
    }

    // Catalogue products whose titles survive the title clean-up unchanged.
    void fill_plain_titles(int count) {
        for (const auto& p : sim.catalogue().products()) {
            if (p.title.find_first_of("&*|<>?'\"") != std::string::npos) continue;
            list.append_row({"list " + p.offerId, p.price, "", p.offerId});
            titles.push_back(vq::utf8_to_gbk(p.title));
            if (static_cast<int>(titles.size()) == count) break;
        }
    }

    std::vector<std::string> titles;
};

TEST_F(OfferPipelineTest, ErrorAnswerIsRetriedOncePerCredentialThenGivenUp) {
    start_sim();
    state.set_credentials({{"unknown", "secret"}});
    fill_plain_titles(1);
    vq::ProductPipeline pipeline = make_pipeline(2);
    EXPECT_FALSE(pipeline.process_product(1).has_value());
    EXPECT_EQ(gateway_requests(), 2);
    EXPECT_EQ(pipeline.credential_cursor(), 0);
    const auto lines = log.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(vq::contains_text(lines[0], "线程：2  开始下载 第：1/1 个宝贝:list "_gbk));
    EXPECT_TRUE(vq::contains_text(lines[1], "线程：2  第1个宝贝下载失败！正在重试！\r\n"_gbk));
    EXPECT_TRUE(vq::contains_text(
        lines[2],
        "线程：2  第1个宝贝下载失败！####################请联系工具开始页下方的在线客服！\r\n"_gbk));
    // Nothing of the product came: the log says why and the product ends there.
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(vq::contains_text(lines[3], "线程：2  第1个宝贝 接口密钥被拒绝：App key does not exist\r\n"_gbk));
    EXPECT_EQ(pipeline.last_key_refusal(), "接口密钥被拒绝：App key does not exist"_gbk);
}

TEST_F(OfferPipelineTest, CredentialsRotateAndRetriedAnswersAreConvertedOnce) {
    start_sim();
    const auto& keys = sim.catalogue().keys();
    // A bad pair on both sides of a good one: product 1 needs one retry, product 2 wraps
    // round from the third pair to the first and on to the second.
    state.set_credentials(
        {{"bad1", "x"}, {keys[0].appkey, keys[0].appsecret}, {"bad2", "y"}});
    fill_plain_titles(2);
    vq::ProductPipeline pipeline = make_pipeline();

    const auto first = pipeline.process_product(1);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(pipeline.credential_cursor(), 2);
    EXPECT_EQ(gateway_requests(), 2);
    EXPECT_EQ(first->rfind("\"" + titles[0] + "\",", 0), 0u);

    const auto second = pipeline.process_product(2);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(pipeline.credential_cursor(), 2);
    EXPECT_EQ(gateway_requests(), 5);
    EXPECT_EQ(second->rfind("\"" + titles[1] + "\",", 0), 0u);
    EXPECT_EQ(log.count_containing("正在重试"), 3);
    EXPECT_EQ(log.count_containing("请联系工具开始页下方的在线客服"), 0);
}

// The second product's answer asked for while the first one's pictures download: the same
// requests with the same key pairs, and the same lines in the same order, the second
// product's retries after the first product's end.
TEST_F(OfferPipelineTest, AnAnswerFetchedAheadChangesNoLineAndNoKeyPair) {
    vq::sim::SimOptions options;
    options.mainPictures = 3;
    start_sim(options);
    const auto& keys = sim.catalogue().keys();
    state.set_credentials({{"bad1", "x"}, {keys[0].appkey, keys[0].appsecret}, {"bad2", "y"}});
    fill_plain_titles(2);
    const auto without_stamps = [](const std::vector<std::string>& lines) {
        std::vector<std::string> out;
        for (const std::string& line : lines) out.push_back(vq::gbk_to_utf8(line.substr(line.find(' ') + 1)));
        return out;
    };
    std::vector<std::string> runs[2];
    std::optional<std::string> rows[2][2];
    for (const bool ahead : {false, true}) {
        SCOPED_TRACE(ahead);
        log.clear();
        const int before = gateway_requests();
        vq::ProductPipeline pipeline = make_pipeline();
        int claims = 0;
        rows[ahead][0] = pipeline.process_product(1, [&] { return ++claims, ahead ? 2 : 0; });
        rows[ahead][1] = pipeline.process_product(2);
        EXPECT_EQ(claims, 1);
        EXPECT_EQ(pipeline.credential_cursor(), 2);
        EXPECT_EQ(gateway_requests() - before, 5);
        runs[ahead] = without_stamps(log.lines());
    }
    ASSERT_TRUE(rows[1][0] && rows[1][1]);
    EXPECT_EQ(rows[1][0]->substr(0, 40), rows[0][0]->substr(0, 40));
    EXPECT_EQ(rows[1][1]->substr(0, 40), rows[0][1]->substr(0, 40));
    EXPECT_EQ(runs[1], runs[0]);
    const auto at = [&](const std::string& part) {
        for (std::size_t i = 0; i < runs[1].size(); ++i)
            if (runs[1][i].find(part) != std::string::npos) return static_cast<int>(i);
        return -1;
    };
    EXPECT_LT(at("第：1/2 个宝贝 下载完成"), at("开始下载 第：2/2"));
    EXPECT_LT(at("开始下载 第：2/2"), at("第2个宝贝下载失败！正在重试"));
}

TEST_F(OfferPipelineTest, EachProductTakesTheNextCredential) {
    vq::sim::SimOptions options;
    options.keys = 3;
    start_sim(options);
    fill_plain_titles(4);
    vq::ProductPipeline pipeline = make_pipeline();
    for (int n = 1; n <= 4; ++n) {
        ASSERT_TRUE(pipeline.process_product(n).has_value());
        EXPECT_EQ(pipeline.credential_cursor(), (n - 1) % 3 + 1);
        EXPECT_EQ(pipeline.last_product_number(), n);
    }
    EXPECT_EQ(gateway_requests(), 4);
}

TEST_F(OfferPipelineTest, AVanishedRowIsNeverRequestedAndGivesNoRow) {
    start_sim();
    fill_plain_titles(1);
    vq::ProductPipeline pipeline = make_pipeline();
    EXPECT_FALSE(pipeline.process_product(2).has_value());
    // An empty id is no offer id: nothing goes to the gateway.
    EXPECT_LE(gateway_requests(), 0);
    // No description pictures were asked for, so no product folder exists.
    EXPECT_FALSE(std::filesystem::exists(package_folder()));
}

// The listing pattern's (.*?) crosses line breaks, so a page's item link can bring CR LF
// into an offer id, and a seller's id can hold "&" or "#". The scanner leaves such an
// item out, and a list row holding one fails without anything sent to the gateway: it
// would add parameters or header lines to the signed request, or cut it.
TEST_F(OfferPipelineTest, AnIdThatIsNotDigitsNeverReachesTheGateway) {
    vq::test::CaptureServer gateway(vq::test::CaptureServer::ok("<rsp></rsp>"));
    vq::SiteSettings site;
    site.gateway_host = "127.0.0.1:" + std::to_string(gateway.port());
    vq::set_site_settings(site);
    const std::string page = vq::utf8_to_gbk(
        "<a class=\"item-name\" href=\"http://shop/item.htm?id=123\r\nX-Injected: 1\r\n"
        "Cookie: stolen=1\" target=\"_blank\">杯子</a><span class=\"c-price\">1.00</span>");
    vq::ListingScanner scanner;
    const vq::ListingPage scanned = scanner.scan(page, "item.host");
    EXPECT_TRUE(scanned.rows.empty());
    ASSERT_EQ(scanned.refusedIds.size(), 1u);
    const std::string ids[] = {scanned.refusedIds[0], "1&_aop_signature=FORGED&x", "12#3", " 12"};
    for (const std::string& id : ids) list.append_row({"T", "1.00", "http://shop/1", id});
    state.set_credentials({{"1234567", "secret"}});

    vq::ProductPipeline pipeline = make_pipeline();
    for (int n = 1; n <= static_cast<int>(std::size(ids)); ++n) {
        EXPECT_FALSE(pipeline.process_product(n).has_value()) << ids[n - 1];
    }
    EXPECT_TRUE(gateway.requests().empty());
    vq::set_site_settings(vq::SiteSettings{});
}

}  // namespace
