// A whole `vq copy` of a large list against the stand-in marketplace, measured from outside
// the process: wall time, CPU time and peak memory of vq, and the requests it made.
//
//   copy_bench [--vq PATH] [--products N] [--latency-ms L ...] [--work DIR]
//              [--main-pictures N] [--description-pictures N] [--picture-bytes N]
//
// The package goes to a scratch folder under DIR (default: the temporary folder); on a
// disk the kernel's file creation is a large part of vq's system time, on tmpfs it is not.
//
// For a latency above 0 it compares the wall time with the five-worker network floor:
// requests x latency / 5.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "marketplace-sim/marketplace_sim.hpp"
#include "copy_setup.hpp"
#include "measured_process.hpp"

int main(int argc, char** argv) {
    std::string vq = (std::filesystem::path(argv[0]).parent_path() / "../src/cli/vq").string();
    int products = 1000;
    int mainPictures = 3, descriptionPictures = 4, shared = 0;
    bool sequential = false;
    std::size_t pictureBytes = 0;
    std::vector<int> latencies;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--vq") vq = argv[i + 1];
        else if (name == "--products") products = std::atoi(argv[i + 1]);
        else if (name == "--latency-ms") latencies.push_back(std::atoi(argv[i + 1]));
        else if (name == "--work") base = argv[i + 1];
        else if (name == "--main-pictures") mainPictures = std::atoi(argv[i + 1]);
        else if (name == "--description-pictures") descriptionPictures = std::atoi(argv[i + 1]);
        else if (name == "--picture-bytes") pictureBytes = std::strtoull(argv[i + 1], nullptr, 10);
        else if (name == "--shared-description-pictures") shared = std::atoi(argv[i + 1]);
        else if (name == "--sequential-pictures") sequential = std::atoi(argv[i + 1]) != 0;
    }
    if (latencies.empty()) latencies = {0, 20};
    // Before the stand-in's catalogue exists, so that it stays out of vq's peak memory.
    bench::Launcher launcher;
    if (!launcher.start()) {
        std::fprintf(stderr, "copy_bench: cannot fork the launcher\n");
        return 1;
    }

    const std::filesystem::path work = base / ("vq-copy-bench-" + std::to_string(getpid()));
    std::printf("vq copy of %d products (%d main + %d description pictures each%s, description "
                "pictures %s, format 5) into %s\n",
                products, mainPictures, descriptionPictures,
                pictureBytes ? (" of " + std::to_string(pictureBytes) + " bytes").c_str() : "",
                descriptionPictures > 0 ? "on" : "off", base.c_str());
    std::printf("%8s %9s %9s %9s %12s %10s %9s %12s %10s\n", "latency", "wall s", "cpu s", "sys s",
                "cpu ms/prod", "peak MB", "requests", "req/product", "wall/floor");
    int failures = 0;
    for (const int latency : latencies) {
        vq::sim::MarketplaceSim sim;
        vq::sim::SimOptions options;
        options.shops = 1;
        options.productsPerShop = products;
        options.latencyMs = latency;
        options.mainPictures = mainPictures;
        options.descriptionPictures = descriptionPictures;
        options.pictureBytes = pictureBytes;
        options.sharedDescriptionPictures = shared;
        if (sim.start(options) <= 0) {
            std::fprintf(stderr, "copy_bench: the stand-in did not start\n");
            return 1;
        }
        bench::prepare_copy(sim, work);
        sim.reset_stats();
        std::vector<std::string> args = {vq, "copy", "--home", (work / "home").string(), "--list",
                          (work / "list.txt").string(), "--out", (work / "out/pkg.csv").string(),
                          descriptionPictures > 0 ? "--desc-pictures" : "--no-desc-pictures",
                          "--policy", "3", "--format", "5"};
        if (sequential) args.push_back("--sequential-pictures");
        const bench::Measured m = launcher.run(args, (work / "stdout.txt").string());
        const std::string stats = sim.stats_text();
        sim.stop();
        const long requests = bench::stat_count(stats, "gateway") + bench::stat_count(stats, "picture") +
                              bench::stat_count(stats, "config");
        const double floor = requests * latency / 1000.0 / 5.0;
        char ratio[32] = "-";
        if (latency > 0) std::snprintf(ratio, sizeof ratio, "%.3f", m.wallSeconds / floor);
        std::printf("%6d ms %9.2f %9.2f %9.2f %12.3f %10.1f %9ld %12.2f %10s\n", latency,
                    m.wallSeconds, m.cpuSeconds, m.systemSeconds, m.cpuSeconds * 1000.0 / products, m.peakRssKiB / 1024.0,
                    requests, static_cast<double>(requests) / products, ratio);
        if (m.exitCode != 0) {
            std::fprintf(stderr, "copy_bench: vq exited with %d (see %s)\n", m.exitCode,
                         (work / "stdout.txt").c_str());
            ++failures;
        }
    }
    std::filesystem::remove_all(work);
    return failures ? 1 : 0;
}
