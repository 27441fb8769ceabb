#pragma once
// The stand-in marketplace: one HTTP server on 127.0.0.1 that plays every host the program
// talks to, told apart by the Host header (libcurl sends "name.localhost:PORT"):
//
//   config.localhost           "/logo.xml": the key pairs
//   gw.localhost               offer.get, signature checked; today's JSON product methods
//                              and the token exchange (see OpenPlatform), also over HTTPS
//   auth.localhost             the authorize page (HTTPS with `tls`)
//   shopN.localhost            GBK shop pages: offer list, category and search lists
//   detail.localhost, detail.tmall.localhost, item.localhost
//                              GBK product pages
//   img.localhost, img.taobaocdn.localhost
//                              picture bytes, typed by the file name's extension
//   any host                   "/__stats", "/__reset", "/__catalog", "/__change"
//
// Deliberate oddities that the program must cope with:
//   - Wangpu shops show products 24 and 31 (indexes 23 and 30) as "面议" without price
//     markup, so their offer-list page 2 has 20 items and 18 prices (at 20 items a page);
//   - NewTmall listing pages open with a promotion item whose link has no "&" after the id;
//   - shops 2, 5, 8, ... write the count marker as OFFER-COUNT">; ShopStreet shops give the
//     page count as <b class="ui-page-s-len">;
//   - every seventh product page (index 5, 12, ...) writes "<title >";
//   - some description pictures have Chinese characters in the path (served for raw and
//     percent-encoded GBK), "&amp;" in the query, a lower-case tag, a repeat, or no picture
//     behind them (404, with a page as real hosts send);
//   - with `hostile`, values as sellers really type them (see CatalogueOptions).
// "/__catalog" lists all of it.

#include <cstddef>
#include <cstdint>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "marketplace-sim/catalogue.hpp"
#include "marketplace-sim/faults.hpp"
#include "marketplace-sim/open_platform.hpp"

namespace vq::sim {

// What a supplier changes of an offer between two runs.
enum class OfferChange {
    PriceUp,     // every price (retail, ranges, SKUs) 10 % up
    PriceDown,   // every price 10 % down
    Stock,       // the amount on sale (and each SKU's) 37 more
    SkuAdded,    // one SKU more (a one-level SKU offer, or a first SKU)
    SkuRemoved,  // the last SKU gone (two-level: the last size of the last colour)
    TakenDown,   // offer.get finds it no more; today's methods say "expired"
};

// "price-up", "price-down", "stock", "sku-added", "sku-removed", "taken-down"; nullopt else.
std::optional<OfferChange> offer_change_from_name(std::string_view name);

struct SimOptions {
    int port = 0;  // 0: any free port
    std::uint64_t seed = 1;
    int shops = 4;
    int productsPerShop = 45;
    int keys = 2;
    int latencyMs = 0;
    FaultRates faults;
    std::size_t pictureBytes = 0;  // pad pictures to about this size
    int mainPictures = 0;          // see CatalogueOptions
    int descriptionPictures = 0;
    int itemsPerPage = 20;  // on every listing page
    bool hostile = false;   // see CatalogueOptions
    int claimedPages = 0;   // see CatalogueOptions
    int sharedDescriptionPictures = 0;  // see CatalogueOptions
    bool sharedMainPicture = false;     // see CatalogueOptions
    bool currentModelValues = false;    // see CatalogueOptions
    // Also serve HTTPS on a second port, with a certificate made at start and written to
    // tlsFolder (which must exist) with the authority that signed it.
    bool tls = false;
    std::string tlsFolder;
    int tokenLifetimeSeconds = 36000;             // expires_in of every access token
    int refreshLifetimeSeconds = 180 * 24 * 3600;  // refresh_token_timeout, from now
};

// Bytes of a "huge" answer, streamed and never held in memory.
inline constexpr std::size_t kHugeBodyBytes = std::size_t{80} << 20;

class MarketplaceSim {
public:
    MarketplaceSim();
    ~MarketplaceSim();  // stops the server
    MarketplaceSim(const MarketplaceSim&) = delete;
    MarketplaceSim& operator=(const MarketplaceSim&) = delete;

    // Generates the catalogue and starts serving; returns the bound port, or -1 when the
    // port cannot be bound or the server already runs.
    int start(const SimOptions& options);

    // Releases hanging and delayed answers, stops the server and waits for its threads.
    // Does nothing when it is not running.
    void stop();

    int port() const;
    // The HTTPS port (-1 without `tls`) and the authority file a client must trust for it.
    int tls_port() const;
    std::string ca_file() const;
    const Catalogue& catalogue() const;

    // A gate for tests: requests of a kind ("gateway", "page", "product", "picture"; empty:
    // any) whose
    // target contains target_part are counted and then held until release_requests() or
    // stop(), so a test can act while they are under way. One gate at a time.
    void hold_requests(std::string kind, std::string target_part = {});
    void release_requests();
    // Waits until at least n requests are held at the gate; false after limit (a safety
    // net, not a timing).
    bool wait_held(int n, std::chrono::seconds limit = std::chrono::seconds(60));
    int held_count() const;

    // Changes the offer as its supplier would; false for an unknown offer. Safe while the
    // server runs: answers see the offer before or after, never half of it. The same is
    // "/__change?offer=ID&kind=NAME" on any host.
    bool change_offer(std::string_view offerId, OfferChange change);

    // The "/__stats" text: counts by kind, fault counts, then one line per distinct request.
    std::string stats_text() const;
    void reset_stats();
    // Every request seen since the last reset_stats(): its kind ("gateway", "picture", ...),
    // Host header, target (a form POST's distinguishing fields as a query) and how often.
    struct SeenRequest {
        std::string kind, host, target;
        std::uint64_t count = 0;
    };
    std::vector<SeenRequest> requests_seen() const;

    // The program's site settings ([SITE], CR LF lines) pointing at this server.
    std::string site_ini() const;
    // The same for a product API profile ("offer.get", "cross.productInfo",
    // "fenxiao.productInfo"; any other name is written as given): today's methods go to the
    // HTTPS port when there is one, and the authorize page with them.
    std::string site_ini(std::string_view profile) const;

    // The app's standing on the platform side; see OpenPlatform.
    IssuedToken issue_token(std::string_view appkey, int lifetimeSeconds = -1);
    void expire_access_tokens();
    void set_refusing_refresh(bool refusing);
    void set_offer_status(std::string offerId, std::string status);
    void drop_relationships();
    int relationship_size(std::string_view appkey) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vq::sim
