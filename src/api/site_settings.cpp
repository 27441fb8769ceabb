#include "api/site_settings.hpp"

#include <charconv>
#include <mutex>

#include "net/http_client.hpp"
#include "support/ini_file.hpp"

namespace vq {
namespace {

constexpr std::string_view kSection = "SITE";

std::mutex& settings_mutex() {
    static std::mutex m;
    return m;
}

SiteSettings& current_settings() {
    static SiteSettings settings;
    return settings;
}

void read_text(const IniFile& file, std::string_view key, std::string& field) {
    auto value = file.value(kSection, key);
    if (value && !value->empty()) field = std::move(*value);
}

// Digits only: "+5", "5s" or "1e3" are typing slips, not time-outs.
int positive_integer_or(std::string_view text, int fallback) {
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1) return fallback;
    return n;
}

}  // namespace

std::string site_settings_path(std::string_view program_folder) {
    std::string path(program_folder);
    if (!path.empty() && path.back() == '/') path.pop_back();
    return path + "/options/site.ini";
}

SiteSettings load_site_settings(std::string_view gbk_path) {
    IniFile file;
    file.load(gbk_path);
    SiteSettings settings;
    settings.site_ini = gbk_path;
    read_text(file, "config_server", settings.config_server);
    read_text(file, "gateway_host", settings.gateway_host);
    read_text(file, "wholesale_detail_host", settings.wholesale_detail_host);
    read_text(file, "mall_detail_host", settings.mall_detail_host);
    read_text(file, "item_host", settings.item_host);
    read_text(file, "example_shop", settings.example_shop);
    if (auto timeout = file.value(kSection, "http_timeout_seconds")) {
        settings.http_timeout_seconds = positive_integer_or(*timeout, kDefaultHttpTimeoutSeconds);
    }
    return settings;
}

void set_site_settings(const SiteSettings& settings) {
    std::lock_guard lock(settings_mutex());
    current_settings() = settings;
    if (settings.http_timeout_seconds < 1) {
        current_settings().http_timeout_seconds = kDefaultHttpTimeoutSeconds;
    }
    set_default_timeout_seconds(current_settings().http_timeout_seconds);
}

SiteSettings site_settings() {
    std::lock_guard lock(settings_mutex());
    return current_settings();
}

}  // namespace vq
