// One package grown by runs of `vq copy --append`, and `vq check` of the whole of it,
// measured from outside: whether a run's cost follows its own rows or the package's.
//
//   append_bench [--vq PATH] [--runs N] [--products-per-run N] [--work DIR]
//
// Each product has 3 main and 4 description pictures, the stand-in answers at once.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "copy_setup.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "measured_process.hpp"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::string vq = (fs::path(argv[0]).parent_path() / "../src/cli/vq").string();
    int runs = 5, perRun = 1000;
    fs::path base = fs::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--vq") vq = argv[i + 1];
        else if (name == "--runs") runs = std::atoi(argv[i + 1]);
        else if (name == "--products-per-run") perRun = std::atoi(argv[i + 1]);
        else if (name == "--work") base = argv[i + 1];
    }
    bench::Launcher launcher;  // before the catalogue, which stays out of vq's memory
    if (!launcher.start()) {
        std::fprintf(stderr, "append_bench: cannot fork the launcher\n");
        return 1;
    }
    vq::sim::MarketplaceSim sim;
    vq::sim::SimOptions options;
    options.shops = 1;
    options.productsPerShop = runs * perRun;
    options.mainPictures = 3;
    options.descriptionPictures = 4;
    if (sim.start(options) <= 0) {
        std::fprintf(stderr, "append_bench: the stand-in did not start\n");
        return 1;
    }
    const fs::path work = base / ("vq-append-bench-" + std::to_string(getpid()));
    bench::prepare_copy(sim, work);
    // The list in runs' parts.
    std::vector<std::string> lines;
    {
        std::ifstream in(work / "list.txt", std::ios::binary);
        for (std::string line; std::getline(in, line);) lines.push_back(line + "\n");
    }
    const std::string table = (work / "out/pkg.csv").string();
    std::printf("vq copy --append of %d runs of %d products (3 main + 4 description pictures each, "
                "latency 0) into one package in %s\n",
                runs, perRun, base.c_str());
    std::printf("%-18s %8s %8s %9s %12s\n", "", "wall s", "cpu s", "peak MB", "wall/first");
    int failures = 0;
    double first = 0;
    for (int r = 0; r < runs; ++r) {
        const fs::path part = work / ("part" + std::to_string(r) + ".txt");
        {
            std::ofstream out(part, std::ios::binary);
            for (int k = r * perRun; k < (r + 1) * perRun && k < static_cast<int>(lines.size()); ++k) out << lines[static_cast<std::size_t>(k)];
        }
        std::vector<std::string> args = {vq, "copy", "--home", (work / "home").string(), "--list",
                                         part.string(), "--out", table, "--desc-pictures",
                                         "--policy", "3", "--format", "5"};
        if (r > 0) args.push_back("--append");
        const bench::Measured m = launcher.run(args, (work / "stdout.txt").string());
        if (r == 0) first = m.wallSeconds;
        std::printf("run %-14d %8.2f %8.2f %9.1f %12.3f\n", r + 1, m.wallSeconds, m.cpuSeconds,
                    m.peakRssKiB / 1024.0, m.wallSeconds / first);
        std::fflush(stdout);
        if (m.exitCode != 0) {
            std::fprintf(stderr, "append_bench: vq copy exited with %d\n", m.exitCode);
            ++failures;
        }
    }
    const bench::Measured check = launcher.run({vq, "check", table}, (work / "check.txt").string());
    std::printf("vq check of %-6d %8.2f %8.2f %9.1f\n", runs * perRun, check.wallSeconds,
                check.cpuSeconds, check.peakRssKiB / 1024.0);
    if (check.exitCode != 0) {
        std::fprintf(stderr, "append_bench: vq check exited with %d\n", check.exitCode);
        ++failures;
    }
    sim.stop();
    fs::remove_all(work);
    return failures > 0 ? 1 : 0;
}
