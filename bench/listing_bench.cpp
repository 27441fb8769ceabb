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

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/list_file.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "support/encoding.hpp"

extern char** environ;

namespace {

constexpr double kCpuPerPageGoalMs = 5.0;

struct Measured {
    int exitCode = -1;
    double wallSeconds = 0, cpuSeconds = 0;
    long peakRssKiB = 0;
};

Measured spawn_and_measure(std::vector<std::string> args, const std::string& log) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    Measured m;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return m;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    m.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
    m.peakRssKiB = usage.ru_maxrss;
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

bool write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool read_all(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool write_text(int fd, const std::string& text) {
    const std::size_t size = text.size();
    return write_all(fd, &size, sizeof size) && write_all(fd, text.data(), size);
}

bool read_text(int fd, std::string& text) {
    std::size_t size = 0;
    if (!read_all(fd, &size, sizeof size)) return false;
    text.resize(size);
    return read_all(fd, text.data(), size);
}

// Runs vq from a process forked at the start, while this one is still small. A child of
// posix_spawn shares its parent's memory until exec, and the kernel counts that memory
// (here the stand-in's catalogue) in the child's peak RSS.
class Launcher {
public:
    bool start() {
        int requests[2], answers[2];
        if (pipe(requests) != 0 || pipe(answers) != 0) return false;
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            close(requests[1]);
            close(answers[0]);
            serve(requests[0], answers[1]);
            _exit(0);
        }
        close(requests[0]);
        close(answers[1]);
        toLauncher_ = requests[1];
        fromLauncher_ = answers[0];
        return true;
    }

    ~Launcher() {
        if (pid_ <= 0) return;
        close(toLauncher_);  // end of requests: the launcher leaves
        close(fromLauncher_);
        waitpid(pid_, nullptr, 0);
    }

    Measured run(const std::vector<std::string>& args, const std::string& log) {
        Measured m;
        const std::size_t count = args.size();
        bool ok = write_all(toLauncher_, &count, sizeof count);
        for (const std::string& a : args) ok = ok && write_text(toLauncher_, a);
        ok = ok && write_text(toLauncher_, log) && read_all(fromLauncher_, &m, sizeof m);
        return ok ? m : Measured{};
    }

private:
    static void serve(int in, int out) {
        for (;;) {
            std::size_t count = 0;
            if (!read_all(in, &count, sizeof count)) return;
            std::vector<std::string> args(count);
            std::string log;
            for (std::string& a : args) {
                if (!read_text(in, a)) return;
            }
            if (!read_text(in, log)) return;
            const Measured m = spawn_and_measure(std::move(args), log);
            if (!write_all(out, &m, sizeof m)) return;
        }
    }

    pid_t pid_ = -1;
    int toLauncher_ = -1, fromLauncher_ = -1;
};

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
    Launcher launcher;
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
            const Measured m = launcher.run({vq, "add", "--mode", "店铺", "--list", list.string(),
                                             "--home", (work / "home").string(), address},
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
