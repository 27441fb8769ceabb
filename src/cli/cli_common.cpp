#include "cli/cli_common.hpp"

#include <cstdio>
#include <cstdlib>

#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq::cli {

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void on_interrupt(int) { caught = 1; }

}  // namespace

InterruptCatcher::InterruptCatcher() {
    caught = 0;
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
    return caught != 0;
}

bool open_log_file(std::string_view utf8_option, std::FILE*& file) {
    file = nullptr;
    if (utf8_option.empty()) return true;
    file = std::fopen(native_path(absolute_gbk_path(utf8_option)).c_str(), "wb");
    if (file) return true;
    print_error("无法写入日志文件："_gbk + utf8_to_gbk(utf8_option));
    return false;
}

void print_error(std::string_view gbk) {
    const std::string text = gbk_to_utf8(gbk);
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace vq::cli
