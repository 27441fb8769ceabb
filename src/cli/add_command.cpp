// vq add: fills a product list file from an address, as the window's "添加到列表" does.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/list_file.hpp"
#include "model/product_list.hpp"
#include "cli/arguments.hpp"
#include "cli/cli_common.hpp"
#include "cli/commands.hpp"
#include "cli/console.hpp"
#include "net/http_client.hpp"
#include "source/address_classification.hpp"
#include "source/listing_reader.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq::cli {

namespace {

// Listed by --help under the usage.
constexpr const char* kExitCodes =
    "exit codes: 0 the command ran (also when the log says nothing was recognised)\n"
    "            1 a listing page could not be read after its tries (the rows read are\n"
    "              still added)\n"
    "            2 bad arguments, a list file that cannot be read or written, whose folder\n"
    "              does not exist, or that another vq add is using\n"
    "            130 stopped with Ctrl-C (the list file is not written)\n";

struct AddArguments {
    std::string mode;  // as given: Chinese or English
    std::string list, home, site, log;
    std::string address;
};

void declare(CLI::App& app, AddArguments& parsed) {
    app.add_option("--mode", parsed.mode,
                   "what ADDRESS is: 单品 (single) a product page, 店铺 (shop) a whole shop, "
                   "列表 (list) a category or search list of a shop")
        ->type_name("单品|列表|店铺")
        ->required()
        ->check(one_of({"单品", "列表", "店铺", "single", "list", "shop"}));
    app.add_option("--list", parsed.list,
                   "the list file the rows are added to (a missing one starts empty)")
        ->type_name("FILE")
        ->required()
        ->check(not_empty());
    app.add_option("--home", parsed.home, "the program folder, as for vq copy")->type_name("DIR");
    app.add_option("--site", parsed.site, "the site settings, as for vq copy")->type_name("FILE");
    app.add_option("--log", parsed.log, "also writes the log lines there, as GBK with CR LF")
        ->type_name("FILE");
    app.add_option("ADDRESS", parsed.address)->required();
}

// The mode as the command line gives it (UTF-8, Chinese or English); --mode lets no
// other text through.
AddressMode given_mode(const std::string& given) {
    if (given == "单品" || given == "single") return AddressMode::Single;
    if (given == "列表" || given == "list") return AddressMode::List;
    return AddressMode::Shop;
}

// The console as the add and the readers see it: silent once Ctrl-C came, so the aborted
// fetches do not report addresses as wrong.
class InterruptibleLog final : public LogSink {
public:
    explicit InterruptibleLog(LogSink& target) : target_(target) {}
    void append_log(std::string_view text) override {
        if (!InterruptCatcher::interrupted()) target_.append_log(text);
    }

private:
    LogSink& target_;
};

// Wakes the waiting command the moment work ends; Ctrl-C, which a signal handler can only
// flag, is looked at between short waits.
class Wakeup {
public:
    void notify() {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        changed_.notify_all();
    }
    // Waits until notified or the time has passed.
    void wait(std::chrono::milliseconds most) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, most, [this] { return woken_; });
        woken_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
};

// Runs the add on its own thread so that Ctrl-C can abort its fetch instead of waiting
// for the time-out. Returns nothing when interrupted.
std::optional<AddOutcome> add_interruptibly(const std::string& address, AddressMode mode,
                                            const AddAddressPorts& ports) {
    CancelToken token;
    std::atomic<bool> done{false};
    Wakeup wakeup;
    AddOutcome outcome = AddOutcome::Nothing;
    std::thread adder([&] {
        CancelScope scope(token);
        outcome = add_address_to_list(address, mode, ports);
        done.store(true, std::memory_order_release);
        wakeup.notify();
    });
    bool stopped = false;
    while (!done.load(std::memory_order_acquire)) {
        if (InterruptCatcher::interrupted() && !stopped) {
            token.cancel();
            stopped = true;
        }
        wakeup.wait(std::chrono::milliseconds(20));
    }
    adder.join();
    if (stopped || InterruptCatcher::interrupted()) return std::nullopt;
    return outcome;
}

// Blocks until the readers have ended (true) or Ctrl-C came (false, readers stopped).
// wakeup is told by the readers' end.
bool wait_for_readers(ListingReaders& readers, Wakeup& wakeup) {
    while (readers.running()) {
        if (InterruptCatcher::interrupted()) {
            readers.stop();
            return false;
        }
        wakeup.wait(std::chrono::milliseconds(50));
    }
    return !InterruptCatcher::interrupted();
}

}  // namespace

int add_command(const std::vector<std::string>& args) {
    AddArguments arguments;
    CommandLine line("add", kExitCodes);
    declare(line.app(), arguments);
    if (const std::optional<int> code = line.parse(args)) return *code;

    init_http();
    const std::string home = program_folder(arguments.home);
    load_site(arguments.site, home);

    // Check the list file before fetching anything: a list that cannot be read or written
    // back would throw the fetched rows away.
    const std::string list_path = absolute_gbk_path(arguments.list);
    const std::filesystem::path native_list = native_path(list_path);
    std::error_code error;
    if (!std::filesystem::is_directory(native_list.parent_path(), error)) {
        print_error("宝贝列表文件的文件夹不存在："_gbk + list_path);
        return 2;
    }
    // Two adds to one list at once would each write back only their own rows.
    const FileLock lock = FileLock::try_take(list_path + ".lock");
    if (lock.busy()) {
        print_error("宝贝列表文件正被另一个任务使用："_gbk + list_path);
        return 2;
    }
    std::vector<ProductEntry> rows;
    if (std::filesystem::exists(native_list, error)) {
        if (std::filesystem::is_directory(native_list, error)) {
            print_error("无法读取宝贝列表文件："_gbk + list_path);
            return 2;
        }
        ListFileRead read = read_list_file_contents(list_path);
        if (!read.ok()) {
            print_error(file_read_failure(read.file, kMostListBytes, "宝贝列表文件"_gbk, list_path));
            return 2;
        }
        // The whole list is written back: a line it could not read would be lost.
        if (print_unreadable_lines(read.contents.unreadableLines, list_path)) return 2;
        rows = std::move(read.contents.rows);
    }
    const int rows_before = static_cast<int>(rows.size());
    ProductList list;
    list.replace_all(std::move(rows));

    std::FILE* log_file = nullptr;
    if (!open_log_file(arguments.log, log_file)) return 2;

    const InterruptCatcher interrupt;

    int code = 0;
    {
        Console console(stdout, stderr, log_file, false);
        InterruptibleLog log(console);
        ListingPorts listing;
        listing.list = &list;
        listing.log = &log;
        listing.programFolder = home;
        // Before the readers, so it outlives their last call.
        Wakeup readersEnded;
        ListingReaders readers(listing);
        readers.set_finished_callback([&readersEnded] { readersEnded.notify(); });

        AddAddressPorts ports;
        ports.list = &list;
        ports.log = &log;
        ports.readers = &readers;

        const std::optional<AddOutcome> outcome =
            add_interruptibly(utf8_to_gbk(arguments.address), given_mode(arguments.mode), ports);
        bool finished = outcome.has_value();
        if (finished && *outcome == AddOutcome::JobStarted) finished = wait_for_readers(readers, readersEnded);
        if (!finished) {
            readers.stop();
            print_error("已停止：没有写入宝贝列表。"_gbk);
            code = 130;
        } else {
            const std::vector<ProductEntry> all = list.rows();
            // Nothing added: the file stays byte for byte as it was (or absent).
            if (static_cast<int>(all.size()) != rows_before && !write_list_file(list_path, all)) {
                print_error("无法写入宝贝列表文件："_gbk + list_path);
                code = 2;
            } else {
                const std::string line = "宝贝列表："_gbk + list_path + "（"_gbk +
                                         std::to_string(all.size()) + " 个宝贝）"_gbk;
                std::printf("%s\n", terminal_text(line).c_str());
                // The rows read are kept, but a page that failed left products out.
                if (*outcome == AddOutcome::Failed ||
                    (*outcome == AddOutcome::JobStarted && readers.report().pagesFailed > 0)) {
                    code = 1;
                }
            }
        }
    }
    std::fflush(stdout);
    if (log_file) std::fclose(log_file);
    return code;
}

}  // namespace vq::cli
