#pragma once
// What the whole-run copy benchmarks share: a home folder whose site settings point at the
// stand-in, a list file of all its products, and reading its request counts.

#include <filesystem>
#include <fstream>
#include <string>

#include "marketplace-sim/marketplace_sim.hpp"

namespace bench {

// work/home/options/site.ini (plus extra_site lines, CR LF ended), work/out/ and
// work/list.txt as the program writes lists: title||id||price||address, CR LF.
// With a profile of today's product methods, the site settings name it and the home holds a
// token the stand-in issued.
inline void prepare_copy(vq::sim::MarketplaceSim& sim, const std::filesystem::path& work,
                         const std::string& extra_site = {},
                         const std::string& profile = "offer.get") {
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work / "home/options");
    std::filesystem::create_directories(work / "out");
    std::ofstream(work / "home/options/site.ini", std::ios::binary) << sim.site_ini(profile) << extra_site;
    if (profile != "offer.get") {
        const auto& key = sim.catalogue().keys().front();
        const auto issued = sim.issue_token(key.appkey);
        std::ofstream(work / "home/options/token.ini", std::ios::binary)
            << "[TOKEN]\r\napp_key=" << key.appkey << "\r\naccess_token=" << issued.accessToken
            << "\r\nrefresh_token=" << issued.refreshToken << "\r\n";
    }
    std::ofstream list(work / "list.txt", std::ios::binary);
    for (const auto& p : sim.catalogue().products()) {
        list << "item " << p.offerId << "||" << p.offerId << "||" << p.price
             << "||http://detail.localhost/offer/" << p.offerId << ".html\r\n";
    }
}

// The count of a "name count" line of the stand-in's statistics, 0 when there is none.
inline long stat_count(const std::string& stats, const std::string& name) {
    const auto at = ("\n" + stats).find("\n" + name + " ");
    return at == std::string::npos ? 0 : std::stol(stats.substr(at + name.size() + 1));
}

}  // namespace bench
