// vq watch: fetches the offers of a package again and says what the supplier changed since
// it was made: prices, stock, SKUs, offers taken down.

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "api/api_token.hpp"
#include "api/product_api_source.hpp"
#include "api/site_settings.hpp"
#include "app/startup.hpp"
#include "cli/arguments.hpp"
#include "cli/cli_common.hpp"
#include "cli/commands.hpp"
#include "cli/console.hpp"
#include "net/http_client.hpp"
#include "output/package_check.hpp"
#include "output/source_file.hpp"
#include "run/supplier_watch.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq::cli {

namespace {

constexpr const char* kExitCodes =
    "exit codes: 0 nothing changed\n"
    "            1 changes found (see the summary and PACKAGE.changes.tsv); with --update\n"
    "              they are in the package now\n"
    "            2 bad arguments, unreadable or unwritable files (what was written is said),\n"
    "              --update of a package without its source file, or nothing could be asked\n"
    "              (no authorization, no key pair)\n"
    "            130 stopped (Ctrl-C): nothing written\n";

// Raw GBK log lines into the --log file, if there is one.
class FileLog final : public LogSink {
public:
    explicit FileLog(std::FILE* file) : file_(file) {}
    void append_log(std::string_view text) override {
        if (file_) std::fwrite(text.data(), 1, text.size(), file_);
    }

private:
    std::FILE* file_;
};

}  // namespace

int watch_command(const std::vector<std::string>& args) {
    std::string path, home_option, site_option, log_option;
    bool update = false;
    CommandLine line("watch", kExitCodes);
    CLI::App& app = line.app();
    app.add_option("PACKAGE.csv", path,
                   "a package made by vq copy or the window; its source file "
                   "(PACKAGE.source.tsv) beside it names the offers")
        ->required()
        ->check(not_empty());
    app.add_flag("--update", update,
                 "brings the package up to date: prices, amounts and SKUs of the changed offers "
                 "(under the rules it was made with; every other value of the row kept), offers "
                 "gone moved out to PACKAGE.gone.txt");
    app.add_option("--home", home_option,
                   "the program folder (default: VQ_HOME, else the executable's folder)")
        ->type_name("DIR");
    app.add_option("--site", site_option, "the site settings (default: options/site.ini)")
        ->type_name("FILE");
    app.add_option("--log", log_option, "also writes the log lines there, as GBK with CR LF")
        ->type_name("FILE");
    if (const std::optional<int> code = line.parse(args)) return *code;

    const OutputPathChoice package = derive_output_path(absolute_gbk_path(path));
    if (!package.ok) {
        print_error(package.message);
        return 2;
    }
    const std::string packageFolder = package.folder + package.name;
    const std::string sourcePath = source_file_path(packageFolder);
    std::optional<SourceFile> source;
    bool fromPackage = false;
    if (file_exists(sourcePath)) {
        const FileRead read = read_regular_file(sourcePath, kMostListBytes);
        if (!read.ok()) {
            print_error(file_read_failure(read, kMostListBytes, "货源记录"_gbk, sourcePath));
            return 2;
        }
        source = read_source_file(read.bytes);
        if (!source) {
            print_error("不是货源记录："_gbk + sourcePath);
            return 2;
        }
    } else {
        // A package made before source files: its own rows name the offers and its values
        // are compared. It cannot be updated: its rules are not known, and the supplier's
        // prices would replace the listing prices.
        if (update) {
            print_error("没有货源记录："_gbk + sourcePath + "，数据包只能检查，不能更新（价格规则不明）"_gbk);
            return 2;
        }
        const FileRead table = read_regular_file(package.path, kMostTableBytes);
        if (!table.ok()) {
            print_error(file_read_failure(table, kMostTableBytes, "数据包文件"_gbk, package.path));
            return 2;
        }
        source.emplace();
        source->entries = entries_from_package(table.bytes);
        if (source->entries.empty()) {
            print_error("没有货源记录，数据包中也没有宝贝ID："_gbk + package.path);
            return 2;
        }
        fromPackage = true;
    }
    if (!source->unreadableLines.empty()) {
        print_error("货源记录第 "_gbk + std::to_string(source->unreadableLines.front()) + " 行无法识别："_gbk +
                    sourcePath);
        return 2;
    }

    // An update rewrites the table: no run may be writing it meanwhile.
    FileLock lock;
    if (update) {
        lock = FileLock::try_take(packageFolder + ".lock");
        if (!lock.held()) {
            print_error(lock.busy() ? "数据包正由另一个任务写入，请等它结束："_gbk + package.path
                                    : "数据包的锁文件无法建立："_gbk + packageFolder + ".lock");
            return 2;
        }
    }

    const std::string home = program_folder(home_option);
    init_http();
    load_site(site_option, home);
    const SiteSettings site = site_settings();
    BatchState state;
    if (!load_key_pairs_or_say(state, site)) return 2;
    std::vector<std::string> ids;
    for (const SourceEntry& e : source->entries) ids.push_back(e.offerId);
    const SourceChoice choice = choose_offer_sources(site, api_token_path(home), state.credentials(), ids);
    if (!choice.sources) {
        print_error(choice.refusal);
        return 2;
    }

    std::FILE* log_file = nullptr;
    if (!open_log_file(log_option, log_file)) return 2;
    FileLog log(log_file);
    const InterruptCatcher interrupt;
    CancelToken token;
    WatchPorts ports;
    ports.log = &log;
    ports.sources = choice.sources;
    ports.credentials = state.credentials();
    ports.token = &token;
    const bool tty = isatty(STDERR_FILENO) != 0;
    ports.progress = [tty](int done, int total) {
        if (tty) std::fprintf(stderr, "\r已检查 %d/%d", done, total);
    };
    // Ctrl-C cancels what is in flight; the workers end promptly.
    std::atomic<bool> over{false};
    std::thread watcher([&] {
        while (!over) {
            if (InterruptCatcher::interrupted()) {
                token.cancel();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const WatchReport report = watch_supplier(source->entries, ports);
    over = true;
    watcher.join();
    if (tty) std::fputs("\r\n", stderr);
    if (log_file) std::fclose(log_file);

    if (report.stopped || InterruptCatcher::interrupted()) {
        print_error("已停止：没有写入变化记录。"_gbk);
        return 130;
    }
    if (!report.refusal.empty()) {
        print_error(report.refusal);
        print_error("已停止：没有写入变化记录。"_gbk);
        return 2;
    }
    const std::string changesPath = changes_file_path(packageFolder);
    if (!write_file_atomic(changesPath, changes_file_bytes(report.changes))) {
        print_error("变化记录无法写入："_gbk + changesPath);
        return 2;
    }
    std::string out = watch_summary(report, fromPackage) + "\n";
    if (!report.changes.empty()) out += "变化记录："_gbk + changesPath + "\n";
    if (update && !report.changes.empty()) {
        const PackageUpdate done = update_package(package.path, packageFolder, source->entries, report);
        if (!done.ok) {
            print_to_stdout(terminal_text(out));
            print_error(done.message);
            return 2;
        }
        out += "数据包已更新："_gbk + std::to_string(done.updated) + " 个宝贝更新"_gbk;
        if (done.removed > 0) {
            out += "，"_gbk + std::to_string(done.removed) + " 个下架宝贝移到："_gbk + done.goneListPath;
        }
        out += "\n";
        const PackageCheck check = check_package(package.path, packageFolder);
        out += check.summary + "\n";
        if (!done.warning.empty()) {
            if (const int code = print_to_stdout(terminal_text(out))) return code;
            print_error(done.warning);
            return 2;
        }
    }
    if (const int code = print_to_stdout(terminal_text(out))) return code;
    return report.changes.empty() ? 0 : 1;
}

}  // namespace vq::cli
