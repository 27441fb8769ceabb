#include "app/program_folder.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "api/site_settings.hpp"
#include "support/encoding.hpp"

namespace vq {

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
    const std::filesystem::path folder = exe.parent_path();
    // Installed in /usr/bin: settings, lists and packages do not belong there, even when
    // root could write them.
    if (is_system_program_folder(folder.string()) || ::access(folder.c_str(), W_OK) != 0) {
        const std::string user = user_program_folder();
        if (!user.empty()) {
            std::filesystem::create_directories(std::filesystem::path(gbk_to_utf8(user)) / "options",
                                                error);
            return user;
        }
    }
    return utf8_to_gbk(folder.string());
}

bool is_system_program_folder(std::string_view native_folder) {
    const std::filesystem::path folder = std::filesystem::path(native_folder).lexically_normal();
    for (const char* top : {"/usr", "/bin", "/sbin", "/opt", "/snap"}) {
        const std::filesystem::path root(top);
        const auto [end, _] = std::mismatch(root.begin(), root.end(), folder.begin(), folder.end());
        if (end == root.end()) return true;
    }
    return false;
}

std::string user_program_folder() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        return without_trailing_separator(utf8_to_gbk(data)) + "/velmoraquillet";
    }
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return without_trailing_separator(utf8_to_gbk(home)) + "/.local/share/velmoraquillet";
    }
    return {};
}

void load_site(std::string_view site_option, std::string_view home) {
    const std::string path =
        site_option.empty() ? site_settings_path(home) : absolute_gbk_path(site_option);
    set_site_settings(load_site_settings(path));
}

}  // namespace vq
