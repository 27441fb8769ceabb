// marketplace-sim: the stand-in marketplace as a program. Prints the port it listens on as
// its first line, then serves until SIGINT or SIGTERM.

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include <vector>

#include "model/list_file.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "support/encoding.hpp"

namespace {

constexpr const char* kUsage =
    "usage: marketplace-sim [--port N] [--seed S] [--shops N] [--products-per-shop N]\n"
    "                       [--keys N] [--latency-ms N] [--error-rate R] [--empty-rate R]\n"
    "                       [--malformed-rate R] [--reset-rate R] [--hang-rate R]\n"
    "                       [--huge-rate R] [--site-ini PATH] [--picture-bytes N]\n"
    "                       [--main-pictures N] [--description-pictures N]\n"
    "                       [--items-per-page N] [--hostile-values] [--claimed-pages N]\n"
    "                       [--shared-description-pictures N] [--shared-main-picture]\n"
    "                       [--list-file PATH [--list-shop N]]\n"
    "                       [--profile NAME] [--tls-folder DIR] [--current-model-values]\n"
    "Serves on 127.0.0.1 (port 0: any free port) and prints the port as the first line.\n"
    "--hostile-values gives every product values as sellers really type them (quotes,\n"
    "commas, tabs, \"|*|\", over-long titles, overlapping picture addresses, main pictures\n"
    "answering 404 or nothing). --claimed-pages N makes every listing page claim N pages.\n"
    "--shared-description-pictures N (with --description-pictures) draws N of each product's\n"
    "description pictures from a pool of four per shop. --shared-main-picture gives every\n"
    "product of a shop the same first main picture.\n"
    "Rates are chances from 0 to 1. --list-file writes the products of one shop (default 1)\n"
    "as a product list file (GBK, title||id||price||address), as a filled list would be.\n"
    "--profile writes that product API (offer.get, cross.productInfo, fenxiao.productInfo)\n"
    "into --site-ini. --tls-folder also serves HTTPS on a second port, writing the authority\n"
    "to trust there as ca.pem. --current-model-values gives offer.get the values today's\n"
    "product model can carry, so that both kinds of answer describe a product alike.\n";

template <typename T>
bool read_integer(std::string_view text, T& out, T low, T high) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    if (value < low || value > high) return false;
    out = value;
    return true;
}

bool read_rate(const std::string& text, double& out) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.0 && value <= 1.0)) return false;
    out = value;
    return true;
}

struct ListRequest {
    std::string path;
    int shop = 1;
};

bool parse(int argc, char** argv, vq::sim::SimOptions& options, std::string& siteIni,
           std::string& profile, ListRequest& list) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") return false;
        if (name == "--hostile-values") {
            options.hostile = true;
            continue;
        }
        if (name == "--shared-main-picture") {
            options.sharedMainPicture = true;
            continue;
        }
        if (name == "--current-model-values") {
            options.currentModelValues = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "marketplace-sim: %s needs a value\n", name.c_str());
            return false;
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (name == "--port") {
            ok = read_integer(value, options.port, 0, 65535);
        } else if (name == "--seed") {
            ok = read_integer<std::uint64_t>(value, options.seed, 0, UINT64_MAX);
        } else if (name == "--shops") {
            ok = read_integer(value, options.shops, 1, 9999);
        } else if (name == "--products-per-shop") {
            ok = read_integer(value, options.productsPerShop, 0, 100000);
        } else if (name == "--keys") {
            ok = read_integer(value, options.keys, 0, 1000);
        } else if (name == "--latency-ms") {
            ok = read_integer(value, options.latencyMs, 0, 3600000);
        } else if (name == "--picture-bytes") {
            ok = read_integer<std::size_t>(value, options.pictureBytes, 0, std::size_t{1} << 30);
        } else if (name == "--site-ini") {
            siteIni = value;
            ok = !value.empty();
        } else if (name == "--profile") {
            profile = value;
            ok = !value.empty();
        } else if (name == "--tls-folder") {
            options.tls = true;
            options.tlsFolder = value;
            ok = !value.empty();
        } else if (name == "--main-pictures") {
            ok = read_integer(value, options.mainPictures, 0, 100);
        } else if (name == "--description-pictures") {
            ok = read_integer(value, options.descriptionPictures, 0, 100);
        } else if (name == "--shared-description-pictures") {
            ok = read_integer(value, options.sharedDescriptionPictures, 0, 100);
        } else if (name == "--claimed-pages") {
            ok = read_integer(value, options.claimedPages, 0, 2000000000);
        } else if (name == "--items-per-page") {
            ok = read_integer(value, options.itemsPerPage, 1, 100000);
        } else if (name == "--list-file") {
            list.path = value;
            ok = !value.empty();
        } else if (name == "--list-shop") {
            ok = read_integer(value, list.shop, 1, 9999);
        } else if (name == "--error-rate") {
            ok = read_rate(value, options.faults.error);
        } else if (name == "--empty-rate") {
            ok = read_rate(value, options.faults.empty);
        } else if (name == "--malformed-rate") {
            ok = read_rate(value, options.faults.malformed);
        } else if (name == "--reset-rate") {
            ok = read_rate(value, options.faults.reset);
        } else if (name == "--hang-rate") {
            ok = read_rate(value, options.faults.hang);
        } else if (name == "--huge-rate") {
            ok = read_rate(value, options.faults.huge);
        } else {
            std::fprintf(stderr, "marketplace-sim: unknown option %s\n", name.c_str());
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "marketplace-sim: bad value for %s: %s\n", name.c_str(),
                         value.c_str());
            return false;
        }
    }
    return true;
}

// The shop's products as list rows, with their product-page addresses on the stand-in.
bool write_shop_list(const vq::sim::MarketplaceSim& sim, const ListRequest& request) {
    const vq::sim::Shop* shop = sim.catalogue().shop(request.shop);
    if (!shop) return false;
    std::vector<vq::ProductEntry> rows;
    for (const int index : shop->products) {
        const vq::sim::Product& p = sim.catalogue().products()[static_cast<std::size_t>(index)];
        rows.push_back({vq::utf8_to_gbk(p.title), p.price,
                        "http://detail.localhost:" + std::to_string(sim.port()) + "/offer/" +
                            p.offerId + ".html",
                        p.offerId});
    }
    return vq::write_list_file(vq::utf8_to_gbk(request.path), rows);
}

}  // namespace

int main(int argc, char** argv) {
    vq::sim::SimOptions options;
    std::string siteIni, profile;
    ListRequest list;
    if (!parse(argc, argv, options, siteIni, profile, list)) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    // A client that hangs up mid-answer must not end the server.
    signal(SIGPIPE, SIG_IGN);
    // Block the stop signals before any server thread exists, so that only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    vq::sim::MarketplaceSim sim;
    const int port = sim.start(options);
    if (port < 0) {
        std::fprintf(stderr, "marketplace-sim: cannot listen on 127.0.0.1:%d%s\n", options.port,
                     options.tls ? " (or cannot write the certificate into the TLS folder)" : "");
        return 1;
    }
    // The settings file exists before anyone reads the port and goes looking for it.
    if (!siteIni.empty()) {
        std::ofstream out(siteIni, std::ios::binary | std::ios::trunc);
        out << (profile.empty() ? sim.site_ini() : sim.site_ini(profile));
        if (!out.flush()) {
            std::fprintf(stderr, "marketplace-sim: cannot write %s\n", siteIni.c_str());
            sim.stop();
            return 1;
        }
    }
    if (!list.path.empty() && !write_shop_list(sim, list)) {
        std::fprintf(stderr, "marketplace-sim: cannot write the list of shop %d to %s\n", list.shop,
                     list.path.c_str());
        sim.stop();
        return 1;
    }
    std::printf("%d\n", port);
    std::fflush(stdout);
    std::fprintf(stderr,
                 "marketplace-sim: serving on 127.0.0.1:%d (seed %llu, %d shops of %d products, "
                 "%d keys); catalogue at http://127.0.0.1:%d/__catalog\n",
                 port, static_cast<unsigned long long>(options.seed), options.shops,
                 options.productsPerShop, options.keys, port);
    if (sim.tls_port() > 0)
        std::fprintf(stderr, "marketplace-sim: HTTPS on 127.0.0.1:%d, authority %s\n", sim.tls_port(),
                     sim.ca_file().c_str());

    int received = 0;
    sigwait(&stopSignals, &received);
    sim.stop();
    return 0;
}
