#include "cli/cli_common.hpp"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "api/site_settings.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq::cli {

namespace {

std::string without_trailing_separator(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string absolute_gbk_path(std::string_view utf8_path) {
    std::error_code error;
    std::filesystem::path path(std::string{utf8_path});
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) absolute = path;
    return utf8_to_gbk(absolute.lexically_normal().string());
}

std::string program_folder(std::string_view home_option) {
    if (!home_option.empty()) return without_trailing_separator(absolute_gbk_path(home_option));
    if (const char* home = std::getenv("VQ_HOME"); home && *home) {
        return without_trailing_separator(absolute_gbk_path(home));
    }
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return without_trailing_separator(absolute_gbk_path("."));
    return utf8_to_gbk(exe.parent_path().string());
}

void load_site(std::string_view site_option, std::string_view home) {
    const std::string path =
        site_option.empty() ? site_settings_path(home) : absolute_gbk_path(site_option);
    set_site_settings(load_site_settings(path));
}

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
