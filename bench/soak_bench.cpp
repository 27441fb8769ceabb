// A soak: `vq copy` of 1000 products against a stand-in that misbehaves in every way it
// knows, measured from outside the process, and the package it leaves checked.
//
//   soak_bench [--vq PATH] [--products N] [--latency-ms L] [--work DIR]
//
// Faults per request: error 0.05, empty 0.05, malformed 0.05, reset 0.03, hang 0.02,
// huge 0.02; the program's time-out is 3 s. Checks: every product counted as succeeded or
// failed, every row read back under strict quoting with 48 fields, every picture a row
// names there and not empty (the package check). Goals: wall within 10 % of the five-worker
// floor plus the hangs' time-outs shared by five workers, peak RSS at most 100 MB.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "marketplace-sim/marketplace_sim.hpp"
#include "copy_setup.hpp"
#include "measured_process.hpp"
#include "output/package_check.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"

namespace {

// The number after a total line's caption in vq's output, or -1.
int total(const std::string& output, const std::string& caption) {
    const auto at = output.find(caption);
    return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + caption.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::string vq = (std::filesystem::path(argv[0]).parent_path() / "../src/cli/vq").string();
    int products = 1000;
    int latency = 20;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--vq") vq = argv[i + 1];
        else if (name == "--products") products = std::atoi(argv[i + 1]);
        else if (name == "--latency-ms") latency = std::atoi(argv[i + 1]);
        else if (name == "--work") base = argv[i + 1];
    }
    constexpr int kTimeoutSeconds = 3;
    bench::Launcher launcher;  // before the stand-in's catalogue exists
    if (!launcher.start()) {
        std::fprintf(stderr, "soak_bench: cannot fork the launcher\n");
        return 1;
    }

    const std::filesystem::path work = base / ("vq-soak-bench-" + std::to_string(getpid()));
    vq::sim::MarketplaceSim sim;
    vq::sim::SimOptions options;
    options.shops = 1;
    options.productsPerShop = products;
    options.latencyMs = latency;
    options.mainPictures = 3;
    options.descriptionPictures = 4;
    options.faults.error = 0.05;
    options.faults.empty = 0.05;
    options.faults.malformed = 0.05;
    options.faults.reset = 0.03;
    options.faults.hang = 0.02;
    options.faults.huge = 0.02;
    if (sim.start(options) <= 0) {
        std::fprintf(stderr, "soak_bench: the stand-in did not start\n");
        return 1;
    }
    bench::prepare_copy(sim, work,
                        "http_timeout_seconds=" + std::to_string(kTimeoutSeconds) + "\r\n");
    sim.reset_stats();
    const std::string table = (work / "out/pkg.csv").string();
    const bench::Measured m =
        launcher.run({vq, "copy", "--home", (work / "home").string(), "--list",
                      (work / "list.txt").string(), "--out", table, "--desc-pictures", "--policy",
                      "3", "--format", "5"},
                     (work / "stdout.txt").string());
    const std::string stats = sim.stats_text();
    sim.stop();

    const std::string output = vq::read_file_bytes((work / "stdout.txt").string()).value_or("");
    const int succeeded = total(output, "成功下载： ");
    const int failed = total(output, "下载失败： ");
    const long requests = bench::stat_count(stats, "gateway") +
                          bench::stat_count(stats, "picture") + bench::stat_count(stats, "config");
    const long hangs = bench::stat_count(stats, "fault-hang");

    const vq::PackageTable read =
        vq::read_package_table(vq::read_file_bytes(table).value_or(""));
    bool rows_whole = read.format == 5 && read.headerMatches;
    for (const vq::PackageRecord& record : read.records) {
        rows_whole = rows_whole && record.error.empty() && record.fields.size() == 48;
    }
    const vq::PackageCheck check = vq::check_package(table, (work / "out/pkg").string());

    const double floor = requests * latency / 1000.0 / 5.0;
    const double allowance = hangs * kTimeoutSeconds / 5.0;
    const double peak_mb = m.peakRssKiB / 1024.0;
    std::printf("soak: vq copy of %d products (3 main + 4 description pictures each), latency %d ms,"
                " faults error .05 empty .05 malformed .05 reset .03 hang .02 huge .02,"
                " time-out %d s\n",
                products, latency, kTimeoutSeconds);
    std::printf("%9s %9s %9s %10s %10s %9s %9s %6s %12s\n", "wall s", "cpu s", "peak MB",
                "succeeded", "failed", "requests", "floor s", "hangs", "wall/(f+h)");
    std::printf("%9.2f %9.2f %9.1f %10d %10d %9ld %9.2f %6ld %12.3f\n", m.wallSeconds,
                m.cpuSeconds, peak_mb, succeeded, failed, requests, floor, hangs,
                m.wallSeconds / (floor + allowance));
    const bool counted = succeeded >= 0 && succeeded + failed == products;
    const bool rows_match = static_cast<int>(read.records.size()) == succeeded;
    std::printf("checks: exit code %d; succeeded + failed = %d: %s; %zu rows read back strictly "
                "with 48 fields: %s; pictures: %s\n",
                m.exitCode, products, counted ? "yes" : "NO", read.records.size(),
                rows_whole && rows_match ? "yes" : "NO",
                check.clean() ? "all there, none empty" : "PROBLEMS");
    if (!check.clean()) {
        for (std::size_t i = 0; i < check.problems.size() && i < 10; ++i)
            std::printf("  %s\n", vq::gbk_to_utf8(check.problems[i]).c_str());
    }
    std::printf("goals: wall <= 1.10 x (floor + hangs x %d s / 5): %s; peak RSS <= 100 MB: %s\n",
                kTimeoutSeconds, m.wallSeconds <= 1.10 * (floor + allowance) ? "met" : "missed",
                peak_mb <= 100 ? "met" : "missed");
    std::filesystem::remove_all(work);
    return m.exitCode == 0 && counted && rows_whole && rows_match && check.clean() ? 0 : 1;
}
