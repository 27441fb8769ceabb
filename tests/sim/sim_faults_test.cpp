// Fault injection: each kind at rate 1, and decisions that depend on the seed only.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include <functional>
#include <string>

#include "marketplace-sim/shop_pages.hpp"
#include "sim_test_support.hpp"
#include "support/xml_document.hpp"

using namespace vq;
using namespace vq::sim;
using simtest::offer_target;
using simtest::RunningSim;

namespace {

const std::string P = "rsp/Responses/Response/Result/result/toReturn/";

struct Target {
    std::string host, path;
};

Target product_page(const RunningSim& s) {
    return {"detail", "/offer/" + s.sim.catalogue().products().front().offerId + ".html"};
}

Target gateway(const RunningSim& s) {
    const Catalogue& c = s.sim.catalogue();
    return {"gw", offer_target(c.keys().front().appkey, c.keys().front().appsecret,
                               c.products().front().offerId)};
}

std::string normal_product_page(const RunningSim& s) {
    const Product& p = s.sim.catalogue().products().front();
    return render_product_page(p, *s.sim.catalogue().shop(p.shop), s.port);
}

TEST(Faults, EachKindDoesWhatItSays) {
    struct Case {
        const char* kind;
        double FaultRates::*rate;
        int requests;  // made by check
        std::function<void(const RunningSim&)> check;
    };
    const Case cases[] = {
        {"error", &FaultRates::error, 2,
         [](const RunningSim& s) {
             const auto gw = s.get("gw", gateway(s).path);
             ASSERT_TRUE(gw);
             EXPECT_EQ(gw->status, 200);
             XmlDocument doc;
             ASSERT_TRUE(doc.load_bytes(gw->body));
             EXPECT_NE(doc.node_text("@1/msg"), "");
             const auto page = s.get("detail", product_page(s).path);
             ASSERT_TRUE(page);
             EXPECT_EQ(page->status, 503);
         }},
        {"empty", &FaultRates::empty, 2,
         [](const RunningSim& s) {
             for (const Target& t : {gateway(s), product_page(s)}) {
                 const auto res = s.get(t.host, t.path);
                 ASSERT_TRUE(res);
                 EXPECT_EQ(res->status, 200);
                 EXPECT_EQ(res->body, "");
             }
         }},
        {"malformed", &FaultRates::malformed, 2,
         [](const RunningSim& s) {
             const auto gw = s.get("gw", gateway(s).path);
             ASSERT_TRUE(gw);
             EXPECT_FALSE(gw->body.empty());
             XmlDocument doc;
             doc.load_bytes(gw->body);
             EXPECT_EQ(doc.node_text(P + "subject"), "");
             const auto page = s.get("detail", product_page(s).path);
             ASSERT_TRUE(page);
             const std::string whole = normal_product_page(s);
             EXPECT_FALSE(page->body.empty());
             EXPECT_LT(page->body.size(), whole.size());
             EXPECT_EQ(whole.substr(0, page->body.size()), page->body);
         }},
        {"reset", &FaultRates::reset, 1,
         [](const RunningSim& s) { EXPECT_FALSE(s.get("detail", product_page(s).path)); }},
        {"hang", &FaultRates::hang, 1,
         [](const RunningSim& s) {
             // Only the client gives up; stopping the server afterwards must not wait on it.
             EXPECT_FALSE(s.get("detail", product_page(s).path, 1));
         }},
        {"huge", &FaultRates::huge, 1,
         [](const RunningSim& s) {
             httplib::Client client("127.0.0.1", s.port);
             std::string length;
             std::size_t received = 0;
             const std::size_t enough = (std::size_t{64} << 20) + 1;
             client.Get(
                 product_page(s).path.c_str(),
                 {{"Host", "detail.localhost:" + std::to_string(s.port)}},
                 [&](const httplib::Response& r) {
                     length = r.get_header_value("Content-Length");
                     return true;
                 },
                 [&](const char*, std::size_t n) {
                     received += n;
                     return received < enough;
                 });
             EXPECT_EQ(length, std::to_string(kHugeBodyBytes));
             EXPECT_GE(received, enough);
         }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.kind);
        SimOptions options;
        options.faults.*k.rate = 1.0;
        RunningSim s(options);
        k.check(s);
        const std::string stats = "\n" + s.sim.stats_text();
        EXPECT_NE(
            stats.find("\nfault-" + std::string(k.kind) + " " + std::to_string(k.requests) + "\n"),
            std::string::npos)
            << stats;
    }
}

// A hung answer holds a server thread only while its client waits: more hangs than the
// server has threads, all given up by their clients, and the server still answers.
TEST(Faults, HungAnswersEndWhenTheirClientsLeave) {
    SimOptions options;
    options.faults.hang = 1.0;
    RunningSim s(options);
    // Two waves of hung requests, each given up by its client: together far more than the
    // server's 64 threads, and after each the server still answers.
    for (int wave = 0; wave < 2; ++wave) {
        SCOPED_TRACE(wave);
        std::vector<std::thread> clients;
        for (int i = 0; i < 70; ++i) {
            clients.emplace_back(
                [&s, i] { s.get("detail", "/offer/" + std::to_string(i) + ".html", 1); });
        }
        for (std::thread& t : clients) t.join();
        const auto stats = s.get("detail", "/__stats", 20);
        ASSERT_TRUE(stats);
        EXPECT_EQ(stats->status, 200);
        EXPECT_NE(stats->body.find("\nfault-hang "), std::string::npos);
    }
}

TEST(Faults, DecisionsFollowTheSeedAndRepeatsDrawAfresh) {
    // The same address asked again and again, as a retrying client would.
    auto outcomes = [](std::uint64_t seed) {
        SimOptions options;
        options.seed = seed;
        options.faults.error = 0.5;
        RunningSim s(options);
        std::string seen;
        for (int i = 0; i < 24; ++i) {
            const auto res = s.get("detail", "/offer/1.html");
            seen += res && res->status == 503 ? 'E' : '.';
        }
        return seen;
    };
    const std::string first = outcomes(1);
    EXPECT_EQ(outcomes(1), first);
    EXPECT_NE(first.find('E'), std::string::npos);
    EXPECT_NE(first.find('.'), std::string::npos);
    EXPECT_NE(outcomes(2), first);
}

}  // namespace
