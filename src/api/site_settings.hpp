#pragma once
// Where the program's servers are: read from [SITE] of options/site.ini so a deployment, a
// test or the demo can point the program at another marketplace.

#include <optional>
#include <string>
#include <string_view>

namespace vq {

inline constexpr int kDefaultHttpTimeoutSeconds = 90;

// How offers are fetched: the signed offer.get with its XML answer (the default), or one of
// today's JSON product methods, which need the user's own app and token.
enum class ProductApi { OfferGet, CrossProductInfo, FenxiaoProductInfo };

// "offer.get", "cross.productInfo", "fenxiao.productInfo".
std::string_view product_api_name(ProductApi api);
// The profile of a [SITE] product_api value; nullopt for anything else.
std::optional<ProductApi> product_api_from_name(std::string_view name);

// Defaults are the real marketplace's hosts.
struct SiteSettings {
    // A web address ("/logo.xml" is appended), or a local file holding the same document:
    // a plain path (relative ones from site.ini's folder) or a file:// address.
    std::string config_server = "http://www.velmoraquillet.com/";
    std::string gateway_host = "gw.open.1688.com";                 // host[:port]
    std::string wholesale_detail_host = "detail.1688.com";
    std::string mall_detail_host = "detail.tmall.com";
    std::string item_host = "item.taobao.com";
    std::string example_shop = "http://velmoraquillet.1688.com/";
    int http_timeout_seconds = kDefaultHttpTimeoutSeconds;
    ProductApi product_api = ProductApi::OfferGet;
    // "http" or "https"; empty: http for offer.get, https for today's methods (the platform
    // serves them over https only).
    std::string gateway_scheme;
    // Picture paths the JSON answers give relative to it are joined to it.
    std::string picture_host = "https://cbu01.alicdn.com/";
    // Certificates trusted for https (a PEM file; relative to site.ini's folder); empty:
    // the system's store.
    std::string ca_file;
    // Where the authorize page sends the browser (the domain registered for the app), and
    // the page itself.
    std::string redirect_uri = "http://localhost/vq-callback";
    std::string authorize_url = "https://auth.1688.com/oauth/authorize";
    // A product_api value that names no profile (kept so START can say so); empty when fine.
    std::string unknown_product_api;
    // GBK path of the site.ini these were read from (empty: never read from a file), so a
    // message can say which file named a server.
    std::string site_ini;

    bool operator==(const SiteSettings&) const = default;
};

// The scheme the gateway is asked over.
std::string gateway_scheme_of(const SiteSettings& settings);

// program_folder + "/options/site.ini" (no doubled "/" when the folder ends with one).
std::string site_settings_path(std::string_view program_folder);

// The settings in [SITE] of the file; a missing file, key or empty value gives that field's
// default, and an http_timeout_seconds that is not a positive decimal integer gives 90.
SiteSettings load_site_settings(std::string_view gbk_path);

// Makes settings the process's current ones and their time-out the HTTP clients' default
// (a time-out below 1 becomes 90). Thread-safe.
void set_site_settings(const SiteSettings& settings);

// A copy of the current settings (the defaults until set_site_settings). Thread-safe.
SiteSettings site_settings();

}  // namespace vq
