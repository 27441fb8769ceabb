#pragma once
// Where the program's servers are: read from [SITE] of options/site.ini so a deployment, a
// test or the demo can point the program at another marketplace.

#include <string>
#include <string_view>

namespace vq {

inline constexpr int kDefaultHttpTimeoutSeconds = 90;

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
    // GBK path of the site.ini these were read from (empty: never read from a file), so a
    // message can say which file named a server.
    std::string site_ini;

    bool operator==(const SiteSettings&) const = default;
};

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
