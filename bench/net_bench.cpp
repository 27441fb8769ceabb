// Round trips through the program's HTTP clients to the stand-in marketplace on loopback:
// what one worker can fetch per second before the marketplace itself is the limit.

#include <benchmark/benchmark.h>

#include <string>

#include "api/offer_request.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "net/http_client.hpp"

namespace {

vq::sim::MarketplaceSim& marketplace() {
    static vq::sim::MarketplaceSim* sim = [] {
        auto* s = new vq::sim::MarketplaceSim;
        vq::sim::SimOptions options;
        options.pictureBytes = 64 * 1024;
        s->start(options);
        return s;
    }();
    return *sim;
}

std::string address(std::string_view host, const std::string& path) {
    return "http://" + std::string(host) + ".localhost:" + std::to_string(marketplace().port()) +
           path;
}

void BM_SignedOfferAnswer(benchmark::State& state) {
    const auto& catalogue = marketplace().catalogue();
    const auto& key = catalogue.keys().front();
    const std::string gateway = "gw.localhost:" + std::to_string(marketplace().port());
    std::size_t i = 0, bytes = 0;
    for (auto _ : state) {
        const auto& product = catalogue.products()[i++ % catalogue.products().size()];
        const std::string body = vq::fetch_with_timeout(
            vq::build_offer_request(gateway, product.offerId, key.appkey, key.appsecret));
        if (body.empty()) state.SkipWithError("empty answer");
        bytes += body.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_SignedOfferAnswer)->UseRealTime();

void BM_ListingPage(benchmark::State& state) {
    const std::string url = address("shop1", "/page/offerlist.htm?&pageNum=1");
    for (auto _ : state) {
        if (vq::fetch_with_timeout(url).empty()) state.SkipWithError("empty page");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ListingPage)->UseRealTime();

// HTTP/1.0, so every picture costs a connection of its own.
void BM_Picture64KiB(benchmark::State& state) {
    const auto& picture = marketplace().catalogue().products().front().mainPictures.front();
    const std::string url = address(vq::sim::picture_host_name(picture.host), picture.path);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string body = vq::fetch_picture(url);
        if (body.empty()) state.SkipWithError("empty picture");
        bytes += body.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_Picture64KiB)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
