// A `vq add --mode 店铺` of a large shop against the stand-in marketplace, measured from
// outside the process: wall time, CPU time and peak memory of vq, and the pages it read.
//
//   listing_bench [--vq PATH] [--latency-ms L ...] [--pages N] [--items-per-page N] [--work DIR]
//
// Two shops of N pages (default 100 x 60 items) are read once per latency (default 0 and 20):
// shop 1 has the "普通" layout, the first the readers try, and shop 4 the "新天猫" layout, the
// last one, so on its pages every item pattern runs over the whole page before one matches.
// The stand-in deals layouts round the shops in reader order (shop n: (n - 1) mod 4).
//
// The readers share the pages five ways, so for a latency above 0 the wall time is compared
// with the network floor pages x latency / 5 (the one offer-list fetch before them and the
// process start are outside it). CPU per page is vq's whole CPU time over the pages read,
// start-up and list file included; the aim is at most 5 ms.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "model/list_file.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "measured_process.hpp"
#include "support/encoding.hpp"

namespace {

constexpr double kCpuPerPageGoalMs = 5.0;

// The count of a "kind count" line of the stand-in's statistics; the per-address lines
// that follow them have more fields and are passed over.
long stat_count(const std::string& stats, const std::string& kind) {
    std::istringstream lines(stats);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(kind + " ", 0) != 0) continue;
        const std::string rest = line.substr(kind.size() + 1);
        if (!rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos)
            return std::stol(rest);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string vq = (std::filesystem::path(argv[0]).parent_path() / "../src/cli/vq").string();
    std::vector<int> latencies;
    int pages = 100;
    int itemsPerPage = 60;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--vq")
            vq = argv[i + 1];
        else if (name == "--latency-ms")
            latencies.push_back(std::atoi(argv[i + 1]));
        else if (name == "--pages")
            pages = std::max(1, std::atoi(argv[i + 1]));
        else if (name == "--items-per-page")
            itemsPerPage = std::max(1, std::atoi(argv[i + 1]));
        else if (name == "--work")
            base = argv[i + 1];
    }
    if (latencies.empty()) latencies = {0, 20};
    const int products = pages * itemsPerPage;
    // The first and the last layout the readers try.
    const struct {
        int number;
        vq::sim::ShopTemplate layout;
    } shops[] = {{1, vq::sim::ShopTemplate::Plain}, {4, vq::sim::ShopTemplate::NewTmall}};
    bench::Launcher launcher;
    if (!launcher.start()) {
        std::fprintf(stderr, "listing_bench: cannot fork the launcher\n");
        return 1;
    }

    const std::filesystem::path work = base / ("vq-listing-bench-" + std::to_string(getpid()));
    std::printf("vq add --mode 店铺 of a shop of %d pages x %d items (%d products), five readers\n",
                pages, itemsPerPage, products);
    std::printf("%8s %6s %6s %8s %8s %8s %10s %8s %12s %8s  %s\n", "latency", "shop", "pages",
                "rows", "wall s", "floor s", "wall/floor", "cpu s", "cpu ms/page", "peak MB",
                "layout");
    int failures = 0;
    bool overGoal = false;
    for (const int latency : latencies) {
        std::filesystem::remove_all(work);
        std::filesystem::create_directories(work / "home/options");
        vq::sim::MarketplaceSim sim;
        vq::sim::SimOptions options;
        options.shops = 4;  // shop 4 is the first "新天猫" shop
        options.productsPerShop = products;
        options.itemsPerPage = itemsPerPage;
        options.latencyMs = latency;
        options.keys = 1;
        if (sim.start(options) <= 0) {
            std::fprintf(stderr, "listing_bench: the stand-in did not start\n");
            return 1;
        }
        std::ofstream(work / "home/options/site.ini", std::ios::binary) << sim.site_ini();

        for (const auto& shop : shops) {
            if (sim.catalogue().shop(shop.number)->layout != shop.layout) {
                std::fprintf(stderr, "listing_bench: shop %d is not %s\n", shop.number,
                             std::string(vq::sim::template_name(shop.layout)).c_str());
                return 1;
            }
            const std::filesystem::path list =
                work / ("shop" + std::to_string(shop.number) + ".txt");
            const std::filesystem::path log =
                work / ("shop" + std::to_string(shop.number) + ".log");
            const std::string address = "http://shop" + std::to_string(shop.number) +
                                        ".localhost:" + std::to_string(sim.port()) + "/";
            sim.reset_stats();
            const bench::Measured m =
                launcher.run({vq, "add", "--mode", "店铺", "--list", list.string(), "--home",
                              (work / "home").string(), address},
                             log.string());
            // The offer-list page that counts the shop is fetched once before the readers.
            const long pagesRead = std::max(0L, stat_count(sim.stats_text(), "page") - 1);

            // Every product of the shop exactly once; the "新天猫" promotion slot gives no row.
            const auto rows = vq::read_list_file(vq::utf8_to_gbk(list.string()));
            std::multiset<std::string> found;
            if (rows) {
                for (const vq::ProductEntry& row : *rows) found.insert(row.offerId);
            }
            std::multiset<std::string> expected;
            for (const int index : sim.catalogue().shop(shop.number)->products) {
                expected.insert(
                    sim.catalogue().products()[static_cast<std::size_t>(index)].offerId);
            }

            const double floor = pagesRead * latency / 1000.0 / 5.0;
            char ratio[32] = "-";
            if (latency > 0 && floor > 0) {
                std::snprintf(ratio, sizeof ratio, "%.3f", m.wallSeconds / floor);
            }
            const double cpuPerPage = pagesRead > 0 ? m.cpuSeconds * 1000.0 / pagesRead : 0.0;
            const bool slow = cpuPerPage > kCpuPerPageGoalMs;
            overGoal = overGoal || slow;
            std::printf("%5d ms %6d %6ld %8zu %8.3f %8.3f %10s %8.3f %11.3f%s %8.1f  %s\n", latency,
                        shop.number, pagesRead, found.size(), m.wallSeconds, floor, ratio,
                        m.cpuSeconds, cpuPerPage, slow ? "*" : " ", m.peakRssKiB / 1024.0,
                        std::string(vq::sim::template_name(shop.layout)).c_str());
            std::fflush(stdout);

            if (m.exitCode != 0) {
                std::fprintf(stderr, "listing_bench: vq exited with %d (see %s)\n", m.exitCode,
                             log.c_str());
                ++failures;
            }
            if (found != expected) {
                std::fprintf(stderr,
                             "listing_bench: shop %d gave %zu rows, not its %zu products once "
                             "each (see %s)\n",
                             shop.number, found.size(), expected.size(), list.c_str());
                ++failures;
            }
            if (pagesRead != pages) {
                std::fprintf(stderr, "listing_bench: shop %d: %ld pages fetched, not %d\n",
                             shop.number, pagesRead, pages);
                ++failures;
            }
        }
        sim.stop();
    }
    if (overGoal) {
        std::printf("* above the goal of %.0f ms of CPU per page\n", kCpuPerPageGoalMs);
    }
    if (failures == 0) std::filesystem::remove_all(work);
    return failures ? 1 : 0;
}
