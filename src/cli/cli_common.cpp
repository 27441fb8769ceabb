#include "cli/cli_common.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

#include "app/startup.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq::cli {

namespace {

// The signal may land on any thread while the main thread looks: an atomic, not a volatile
// sig_atomic_t, which only orders within the one thread.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

// When the last signal came (monotonic milliseconds), for the second within a second.
std::atomic<long long> lastSignalMs{0};
static_assert(std::atomic<long long>::is_always_lock_free, "the signal handler needs a lock-free clock");

constexpr char kEndedAtOnce[] = "\n再次按下 Ctrl-C：立即退出，不再写入任何文件。\n";

extern "C" void on_interrupt(int) {
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);  // async-signal-safe, unlike the C++ clocks
    const long long ms = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    const long long previous = lastSignalMs.exchange(ms);
    // The first asks for a stop that keeps the finished work; a second at once means now.
    if (caught.exchange(1) != 0 && ms - previous < 1000) {
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kEndedAtOnce, sizeof kEndedAtOnce - 1);
        _exit(130);
    }
}

}  // namespace

InterruptCatcher::InterruptCatcher() {
    caught.store(0);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
}

InterruptCatcher::~InterruptCatcher() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
}

bool InterruptCatcher::interrupted() {
    return caught.load() != 0;
}

bool open_log_file(std::string_view utf8_option, std::FILE*& file) {
    file = nullptr;
    if (utf8_option.empty()) return true;
    file = std::fopen(native_path(absolute_gbk_path(utf8_option)).c_str(), "wb");
    if (file) return true;
    print_error("无法写入日志文件："_gbk + utf8_to_gbk(utf8_option));
    return false;
}

bool load_key_pairs_or_say(BatchState& state, const SiteSettings& site) {
    if (load_remote_configuration(state, site.config_server, site.site_ini) != 0) return true;
    print_error("预定信息 加载失败，请重新启动--"_gbk);
    print_error(configuration_source_note(site.config_server, site.site_ini));
    return false;
}

void print_error(std::string_view gbk) {
    const std::string text = gbk_to_utf8(gbk);
    std::fprintf(stderr, "%s\n", text.c_str());
}

bool print_unreadable_lines(const std::vector<int>& lines, std::string_view gbk_path) {
    constexpr std::size_t kMostNamed = 20;
    const std::string path(gbk_path);
    for (std::size_t i = 0; i < lines.size() && i < kMostNamed; ++i) {
        print_error("列表文件第 "_gbk + std::to_string(lines[i]) + " 行无法识别："_gbk + path);
    }
    if (lines.size() > kMostNamed) {
        print_error("列表文件共有 "_gbk + std::to_string(lines.size()) + " 行无法识别："_gbk + path);
    }
    return !lines.empty();
}

bool asks_for_help(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") return true;
    }
    return false;
}

int print_help(std::string_view usage, std::string_view exit_codes) {
    std::string text(usage);
    text += exit_codes;
    return print_to_stdout(text);
}

int print_to_stdout(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("vq: cannot write to standard output\n", stderr);
        return 2;
    }
    return 0;
}

}  // namespace vq::cli
