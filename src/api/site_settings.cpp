#include "api/site_settings.hpp"

#include <charconv>
#include <mutex>

#include "net/http_client.hpp"
#include "support/ini_file.hpp"
#include "support/text.hpp"

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

std::string_view product_api_name(ProductApi api) {
    switch (api) {
        case ProductApi::CrossProductInfo: return "cross.productInfo";
        case ProductApi::FenxiaoProductInfo: return "fenxiao.productInfo";
        case ProductApi::OfferGet: break;
    }
    return "offer.get";
}

std::optional<ProductApi> product_api_from_name(std::string_view name) {
    for (ProductApi api : {ProductApi::OfferGet, ProductApi::CrossProductInfo,
                           ProductApi::FenxiaoProductInfo}) {
        if (name == product_api_name(api)) return api;
    }
    return std::nullopt;
}

std::string gateway_scheme_of(const SiteSettings& settings) {
    if (!settings.gateway_scheme.empty()) return settings.gateway_scheme;
    return settings.product_api == ProductApi::OfferGet ? "http" : "https";
}

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
    std::string api;
    read_text(file, "product_api", api);
    if (!api.empty()) {
        if (const auto known = product_api_from_name(trim_blanks(api))) {
            settings.product_api = *known;
        } else {
            settings.unknown_product_api = api;
        }
    }
    read_text(file, "gateway_scheme", settings.gateway_scheme);
    settings.gateway_scheme = to_lower_ascii(trim_blanks(settings.gateway_scheme));
    read_text(file, "picture_host", settings.picture_host);
    read_text(file, "ca_file", settings.ca_file);
    if (!settings.ca_file.empty() && settings.ca_file.front() != '/') {
        // Relative to the folder of site.ini, as config_server's file is.
        const std::size_t slash = settings.site_ini.rfind('/');
        if (slash != std::string::npos)
            settings.ca_file = settings.site_ini.substr(0, slash + 1) + settings.ca_file;
    }
    read_text(file, "redirect_uri", settings.redirect_uri);
    read_text(file, "authorize_url", settings.authorize_url);
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
