// A whole `vq copy` of a large list against the stand-in marketplace, measured from outside
// the process: wall time, CPU time and peak memory of vq, and the requests it made.
//
//   copy_bench [--vq PATH] [--products N] [--latency-ms L ...] [--work DIR]
//              [--main-pictures N] [--description-pictures N] [--picture-bytes N]
//              [--shared-description-pictures N] [--compare 0|1] [--shared-main 0|1]
//              [--profile offer.get|cross.productInfo|fenxiao.productInfo]
//
// For each latency, the run as vq makes it (each product's pictures fetched ahead side by
// side, each picture fetched once per run). At the last latency above 0 it also runs
// `--sequential-pictures` (one picture at a time, each from the network) on the same
// stand-in, compares the two outputs (package rows, main pictures by position, every other
// file by its path, byte for byte) unless --compare 0, and runs once more with N of each
// product's description pictures drawn from a shop-wide pool (default 2; 0 skips it).
// At the first latency it also runs a catalogue whose products all share their first main
// picture and says how often that picture was fetched: once, however many workers ask for
// it at the same moment (--shared-main 0 skips it).
//
// The package goes to a scratch folder under DIR (default: the temporary folder); on a
// disk the kernel's file creation is a large part of vq's system time, on tmpfs it is not.
//
// For a latency above 0 it compares the wall time with the five-worker network floor:
// requests x latency / 5.
//
// After the first run at each latency, `vq watch` of its package: every offer again, no
// pictures, against the floor of one request per product over five workers.
//
// At each latency it also runs today's product methods (--profile, default
// cross.productInfo; offer.get skips it) over TLS on the same catalogue, and compares that
// package with offer.get's. The stand-in's catalogue carries only values the current model
// has (no separate supply total, no per-SKU sale count), so the two must be identical.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "marketplace-sim/marketplace_sim.hpp"
#include "copy_setup.hpp"
#include "measured_process.hpp"
#include "output/package_check.hpp"
#include "support/files.hpp"
#include "support/text.hpp"

namespace {

namespace fs = std::filesystem;

struct Options {
    std::string vq;
    std::string wire;  // the minimal libcurl client
    int products = 1000;
    int mainPictures = 3, descriptionPictures = 4, shared = 2;
    std::size_t pictureBytes = 0;
    bool compare = true;
    bool sharedMain = true;
    std::string profile = "cross.productInfo";
};

// What a run left, with what rightly differs between two runs taken out: the picture
// folder's own path and the main picture names (they carry the time), compared by position.
struct Output {
    bool readable = false;
    std::map<std::string, std::vector<std::string>> rows;         // by offer id
    std::map<std::string, std::vector<std::string>> mainPictures;  // bytes by position
    std::map<std::string, std::string> otherFiles;                // relative path: bytes
};

Output read_output(const fs::path& table, const fs::path& folder) {
    Output out;
    const auto bytes = vq::read_file_bytes(table.string());
    if (!bytes) return out;
    const vq::PackageTable read = vq::read_package_table(*bytes);
    out.readable = read.format == 5 && read.headerMatches;
    std::set<std::string> mainFiles;
    for (vq::PackageRecord record : read.records) {
        if (!record.error.empty() || record.fields.size() != 48) out.readable = false;
        if (record.fields.size() != 48) continue;
        const std::string id = record.fields[36];
        auto& pictures = out.mainPictures[id];
        int k = 0;
        for (const std::string& entry : vq::split_text(record.fields[28], ":|;")) {
            const std::string name = entry.substr(0, entry.find(':'));
            if (name.empty()) continue;
            pictures.push_back(vq::read_file_bytes((folder / (name + ".tbi")).string()).value_or("?"));
            mainFiles.insert(name + ".tbi");
            for (std::string& field : record.fields)
                field = vq::replace_all(field, name, "#" + std::to_string(k));
            ++k;
        }
        for (std::string& field : record.fields)
            field = vq::replace_all(field, folder.string(), "<folder>");
        out.rows[id] = std::move(record.fields);
    }
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        const std::string relative = fs::relative(entry.path(), folder).string();
        if (!entry.is_regular_file() || mainFiles.count(relative)) continue;
        out.otherFiles[relative] = vq::read_file_bytes(entry.path().string()).value_or("?");
    }
    return out;
}

// Differences between two outputs, at most a few named; empty when identical.
std::vector<std::string> differences(const Output& a, const Output& b) {
    std::vector<std::string> found;
    const auto note = [&found](const std::string& what) {
        if (found.size() < 5) found.push_back(what);
    };
    if (!a.readable || !b.readable) note("a package did not read back whole");
    if (a.rows.size() != b.rows.size()) note("row counts differ");
    for (const auto& [id, row] : a.rows) {
        const auto it = b.rows.find(id);
        if (it == b.rows.end()) note("row " + id + " only in one");
        else if (it->second != row) note("row " + id + " differs");
    }
    for (const auto& [id, pictures] : a.mainPictures) {
        const auto it = b.mainPictures.find(id);
        if (it == b.mainPictures.end() || it->second != pictures) note("main pictures of " + id);
    }
    if (a.otherFiles.size() != b.otherFiles.size()) note("picture file counts differ");
    for (const auto& [path, bytes] : a.otherFiles) {
        const auto it = b.otherFiles.find(path);
        if (it == b.otherFiles.end() || it->second != bytes) note("file " + path);
    }
    return found;
}

struct Case {
    const char* mode;
    int latency;
    int shared;
    bool sequential;
    fs::path out;  // the table; its pictures in the folder of its name
    fs::path home = {};  // empty: work/home
};

int failures = 0;

// One vq copy on a running stand-in; prints its line.
bench::Measured run_case(bench::Launcher& launcher, vq::sim::MarketplaceSim& sim, const Options& o,
                         const fs::path& work, const Case& c) {
    sim.reset_stats();
    std::vector<std::string> args = {o.vq, "copy", "--home", c.home.empty() ? (work / "home").string() : c.home.string(), "--list",
                                     (work / "list.txt").string(), "--out", c.out.string(),
                                     o.descriptionPictures > 0 ? "--desc-pictures" : "--no-desc-pictures",
                                     "--policy", "3", "--format", "5"};
    if (c.sequential) args.push_back("--sequential-pictures");
    const bench::Measured m = launcher.run(args, (work / "stdout.txt").string());
    const std::string stats = sim.stats_text();
    const long requests = bench::stat_count(stats, "gateway") + bench::stat_count(stats, "picture") +
                          bench::stat_count(stats, "config");
    const double floor = requests * c.latency / 1000.0 / 5.0;
    char ratio[32] = "-";
    if (c.latency > 0) std::snprintf(ratio, sizeof ratio, "%.3f", m.wallSeconds / floor);
    std::printf("%6d ms %-22s %8.2f %8.2f %8.2f %12.3f %9.1f %9ld %12.2f %10s\n", c.latency, c.mode,
                m.wallSeconds, m.cpuSeconds, m.systemSeconds, m.cpuSeconds * 1000.0 / o.products,
                m.peakRssKiB / 1024.0, requests, static_cast<double>(requests) / o.products, ratio);
    std::fflush(stdout);
    if (m.exitCode != 0) {
        std::fprintf(stderr, "copy_bench: vq exited with %d (see %s)\n", m.exitCode,
                     (work / "stdout.txt").c_str());
        ++failures;
    }
    return m;
}

// "%XX" back to bytes.
std::string percent_decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The requests vq made in the run just measured (the stand-in's record of them), as the
// wire client's list: each product's gateway request followed by its pictures.
bool write_wire_requests(const vq::sim::MarketplaceSim& sim, const fs::path& file) {
    const auto& products = sim.catalogue().products();
    std::map<std::string, std::size_t> productOfId, productOfPicture;
    for (std::size_t k = 0; k < products.size(); ++k) {
        const auto& p = products[k];
        productOfId[p.offerId] = k;
        for (const auto* list : {&p.mainPictures, &p.descriptionImages, &p.descriptionBackgrounds})
            for (const auto& picture : *list) productOfPicture.emplace(picture.path, k);
        for (const auto& sku : p.skuPictures) productOfPicture.emplace(sku.picture.path, k);
    }
    std::vector<std::string> gateway(products.size());
    std::vector<std::vector<std::string>> pictures(products.size());
    const std::string port = std::to_string(sim.port());
    for (const auto& seen : sim.requests_seen()) {
        const std::string url = "http://" + seen.host + ":" + port + seen.target;
        if (seen.kind == "gateway") {
            const std::size_t at = seen.target.find("offerId=");
            if (at == std::string::npos) continue;
            const std::string id = seen.target.substr(at + 8, seen.target.find('&', at) - at - 8);
            if (const auto k = productOfId.find(id); k != productOfId.end()) gateway[k->second] = url;
        } else if (seen.kind == "picture") {
            const auto k = productOfPicture.find(percent_decoded(seen.target.substr(0, seen.target.find('?'))));
            if (k == productOfPicture.end()) continue;
            for (std::uint64_t n = 0; n < seen.count; ++n) pictures[k->second].push_back(url);
        }
    }
    std::ofstream out(file, std::ios::binary);
    for (std::size_t k = 0; k < products.size(); ++k) {
        if (gateway[k].empty()) continue;
        out << "G " << gateway[k] << "\n";
        for (const std::string& url : pictures[k]) out << "P " << url << "\n";
    }
    return static_cast<bool>(out);
}

// The wire client on the same requests, in vq's order and flat; vq's wall and CPU as ratios
// to each.
void run_wire(bench::Launcher& launcher, const vq::sim::MarketplaceSim& sim, const Options& o,
              const fs::path& work, int latency, const bench::Measured& vq) {
    const fs::path requests = work / "wire-requests.txt";
    if (!write_wire_requests(sim, requests)) return;
    for (const char* order : {"per-product", "flat"}) {
        const fs::path bodies = work / (std::string("wire-") + order);
        fs::create_directories(bodies);
        const bench::Measured m =
            launcher.run({o.wire, requests.string(), bodies.string(), order}, (work / "wire.txt").string());
        std::printf("%6d ms %-22s %8.2f %8.2f %8.2f %12.3f %9.1f   vq wall %.2fx, vq cpu %.2fx\n", latency,
                    (std::string("wire client, ") + order).c_str(), m.wallSeconds, m.cpuSeconds,
                    m.systemSeconds, m.cpuSeconds * 1000.0 / o.products, m.peakRssKiB / 1024.0,
                    vq.wallSeconds / m.wallSeconds, vq.cpuSeconds / m.cpuSeconds);
        std::fflush(stdout);
        if (m.exitCode != 0) {
            std::fprintf(stderr, "copy_bench: the wire client exited with %d\n", m.exitCode);
            ++failures;
        }
        fs::remove_all(bodies);
    }
}

// vq watch of the package just made: every offer asked for again, no pictures; nothing has
// changed, so it must exit 0.
void run_watch(bench::Launcher& launcher, vq::sim::MarketplaceSim& sim, const Options& o,
               const fs::path& work, int latency) {
    sim.reset_stats();
    const bench::Measured m = launcher.run({o.vq, "watch", (work / "out/pkg.csv").string(), "--home",
                                            (work / "home").string()},
                                           (work / "watch.txt").string());
    const long requests = bench::stat_count(sim.stats_text(), "gateway") +
                          bench::stat_count(sim.stats_text(), "config");
    const double floor = requests * latency / 1000.0 / 5.0;
    char ratio[32] = "-";
    if (latency > 0) std::snprintf(ratio, sizeof ratio, "%.3f", m.wallSeconds / floor);
    std::printf("%6d ms %-22s %8.2f %8.2f %8.2f %12.3f %9.1f %9ld %12.2f %10s\n", latency,
                "vq watch (no pictures)", m.wallSeconds, m.cpuSeconds, m.systemSeconds,
                m.cpuSeconds * 1000.0 / o.products, m.peakRssKiB / 1024.0, requests,
                static_cast<double>(requests) / o.products, ratio);
    std::fflush(stdout);
    if (m.exitCode != 0) {
        std::fprintf(stderr, "copy_bench: vq watch exited with %d (see %s)\n", m.exitCode,
                     (work / "watch.txt").c_str());
        ++failures;
    }
}

bool start_sim(vq::sim::MarketplaceSim& sim, const Options& o, int latency, int shared,
               bool sharedMain = false, const fs::path& tlsFolder = {}) {
    vq::sim::SimOptions options;
    options.currentModelValues = true;
    if (!tlsFolder.empty()) {
        fs::create_directories(tlsFolder);
        options.tls = true;
        options.tlsFolder = tlsFolder.string();
    }
    options.sharedMainPicture = sharedMain;
    options.shops = 1;
    options.productsPerShop = o.products;
    options.latencyMs = latency;
    options.mainPictures = o.mainPictures;
    options.descriptionPictures = o.descriptionPictures;
    options.sharedDescriptionPictures = shared;
    options.pictureBytes = o.pictureBytes;
    if (sim.start(options) > 0) return true;
    std::fprintf(stderr, "copy_bench: the stand-in did not start\n");
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.vq = (fs::path(argv[0]).parent_path() / "../src/cli/vq").string();
    o.wire = (fs::path(argv[0]).parent_path() / "wire_client").string();
    std::vector<int> latencies;
    fs::path base = fs::temp_directory_path();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--vq") o.vq = argv[i + 1];
        else if (name == "--products") o.products = std::atoi(argv[i + 1]);
        else if (name == "--latency-ms") latencies.push_back(std::atoi(argv[i + 1]));
        else if (name == "--work") base = argv[i + 1];
        else if (name == "--main-pictures") o.mainPictures = std::atoi(argv[i + 1]);
        else if (name == "--description-pictures") o.descriptionPictures = std::atoi(argv[i + 1]);
        else if (name == "--picture-bytes") o.pictureBytes = std::strtoull(argv[i + 1], nullptr, 10);
        else if (name == "--shared-description-pictures") o.shared = std::atoi(argv[i + 1]);
        else if (name == "--compare") o.compare = std::atoi(argv[i + 1]) != 0;
        else if (name == "--shared-main") o.sharedMain = std::atoi(argv[i + 1]) != 0;
        else if (name == "--profile") o.profile = argv[i + 1];
    }
    if (latencies.empty()) latencies = {0, 20};
    int compareLatency = 0;
    for (const int latency : latencies) compareLatency = latency > 0 ? latency : compareLatency;
    // Before the stand-in's catalogue exists, so that it stays out of vq's peak memory.
    bench::Launcher launcher;
    if (!launcher.start()) {
        std::fprintf(stderr, "copy_bench: cannot fork the launcher\n");
        return 1;
    }

    const fs::path top = base / ("vq-copy-bench-" + std::to_string(getpid()));
    std::printf("vq copy of %d products (%d main + %d description pictures each%s, description "
                "pictures %s, format 5) into %s\n",
                o.products, o.mainPictures, o.descriptionPictures,
                o.pictureBytes ? (" of " + std::to_string(o.pictureBytes) + " bytes").c_str() : "",
                o.descriptionPictures > 0 ? "on" : "off", base.c_str());
    std::printf("%8s %-22s %8s %8s %8s %12s %9s %9s %12s %10s\n", "latency", "pictures", "wall s",
                "cpu s", "sys s", "cpu ms/prod", "peak MB", "requests", "req/product", "wall/floor");
    // Each stand-in gets a folder of its own, all removed at the end: files deleted just
    // before a run make the file system's inode allocation slower for that run (ext4 looks
    // past recently deleted inodes), which is no cost of vq's.
    int folders = 0;
    for (const int latency : latencies) {
        vq::sim::MarketplaceSim sim;
        const fs::path work = top / std::to_string(++folders);
        if (!start_sim(sim, o, latency, 0, false, work.string() + "-tls")) return 1;
        bench::prepare_copy(sim, work);
        const Case ahead{"ahead, once per run", latency, 0, false, work / "out/pkg.csv"};
        const bench::Measured measured = run_case(launcher, sim, o, work, ahead);
        run_wire(launcher, sim, o, work, latency, measured);
        run_watch(launcher, sim, o, work, latency);
        if (o.profile != "offer.get") {
            // Today's methods on the same stand-in and list, from a home of their own.
            const fs::path today = top / std::to_string(++folders);
            bench::prepare_copy(sim, today, {}, o.profile);
            const Case current{o.profile.c_str(), latency, 0, false, work / "today/pkg.csv", today / "home"};
            fs::create_directories(work / "today");
            run_case(launcher, sim, o, work, current);
            const auto found = differences(read_output(ahead.out, work / "out/pkg"),
                                           read_output(current.out, work / "today/pkg"));
            std::printf("         outputs of offer.get and %s: %s\n", o.profile.c_str(),
                        found.empty() ? "identical" : "DIFFERENT");
            for (const std::string& what : found) std::printf("           %s\n", what.c_str());
            failures += found.empty() ? 0 : 1;
        }
        if (latency == latencies.front() && o.sharedMain && o.mainPictures > 0) {
            vq::sim::MarketplaceSim banner;
            if (!start_sim(banner, o, latency, 0, true)) return 1;
            const fs::path bannerWork = top / std::to_string(++folders);
            bench::prepare_copy(banner, bannerWork);
            run_case(launcher, banner, o, bannerWork,
                     {"1st main pic. shared", latency, 0, false, bannerWork / "out/pkg.csv"});
            long fetches = 0;
            for (const std::string& line : vq::split_text(banner.stats_text(), "\n")) {
                if (line.rfind("picture ", 0) == 0 && line.find("_shared.jpg") != std::string::npos)
                    fetches += std::atol(line.c_str() + 8);
            }
            std::printf("         fetches of the shared main picture: %ld (one expected)\n", fetches);
            failures += fetches == 1 ? 0 : 1;
        }
        if (latency != compareLatency) continue;

        const Case one{"one at a time", latency, 0, true, work / "one/pkg.csv"};
        fs::create_directories(work / "one");
        run_case(launcher, sim, o, work, one);
        if (o.compare) {
            const auto found = differences(read_output(ahead.out, work / "out/pkg"),
                                           read_output(one.out, work / "one/pkg"));
            std::printf("         outputs of the two: %s\n", found.empty() ? "identical" : "DIFFERENT");
            for (const std::string& what : found) std::printf("           %s\n", what.c_str());
            failures += found.empty() ? 0 : 1;
        }
        sim.stop();
        if (o.shared <= 0 || o.descriptionPictures <= 0) continue;
        vq::sim::MarketplaceSim pooled;
        if (!start_sim(pooled, o, latency, o.shared)) return 1;
        const fs::path pooledWork = top / std::to_string(++folders);
        bench::prepare_copy(pooled, pooledWork);
        const std::string mode = std::to_string(o.shared) + " of " +
                                 std::to_string(o.descriptionPictures) + " desc. shared";
        run_case(launcher, pooled, o, pooledWork,
                 {mode.c_str(), latency, o.shared, false, pooledWork / "out/pkg.csv"});
    }
    fs::remove_all(top);
    return failures ? 1 : 0;
}
