#pragma once
// Watching the supplier: every offer a package's source file names is fetched again (no
// pictures), compared with what the supplier gave when it was copied, and each product that
// changed is reported: prices, stock, SKUs added or gone, offers taken down, and those that
// could not be fetched.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/offer_source.hpp"
#include "model/batch_model.hpp"
#include "net/http_client.hpp"
#include "output/source_file.hpp"
#include "support/clock.hpp"

namespace vq {

// What changed of one product (texts UTF-8).
struct ProductChange {
    std::string offerId;
    std::string title;
    bool price = false;  // retail price, a price range or a SKU's price
    bool stock = false;  // the amount on sale or a SKU's
    bool skus = false;   // SKUs added or gone
    bool gone = false;   // not found, or not on sale
    bool failed = false; // could not be fetched
    std::string priceOld, priceNew;  // the first price (of the ranges, else the retail price)
    std::string listingPriceNew;     // priceNew under the price rule the package was made with
    std::string stockOld, stockNew;
    std::string skuText;  // "新增 S1；取消 S2；S3 价格 5.00 → 5.50"
    std::string reason;   // why it is gone or failed
    // Answered: what the supplier says now; and, for an offer whose row an update would
    // change, the offer as the supplier gives it (no rules applied yet).
    std::optional<SourceEntry> now;
    std::shared_ptr<const OfferRecord> fresh;
};

struct WatchReport {
    std::vector<ProductChange> changes;  // in the source file's order
    int checked = 0;
    int unchanged = 0;
    bool stopped = false;
    std::string refusal;  // GBK: why nothing could be asked (no token, …)
};

struct WatchPorts {
    LogSink* log = nullptr;
    std::shared_ptr<OfferSources> sources;
    std::vector<ApiCredential> credentials;
    int workers = kWorkerCount;
    const Clock* clock = nullptr;  // null: the system clock
    const CancelToken* token = nullptr;
    // Called from the workers after each product.
    std::function<void(int done, int total)> progress;
};

// The changes of an offer: old is what the source file says, fresh what the supplier says
// now (its fetch, and the offer when answered).
ProductChange compare_offer(const SourceEntry& old, const OfferFetch& fetch, const SourceEntry* fresh);

WatchReport watch_supplier(const std::vector<SourceEntry>& entries, const WatchPorts& ports);

// A package brought up to date from a watch's changes: the rows of changed offers get the
// supplier's prices, amounts and SKUs (every other value of the row kept), the rows of offers
// gone move out to "<package>.gone.txt" (a product list, added to one already there), and the
// source file says what the supplier says now. The table is replaced in one step.
struct PackageUpdate {
    bool ok = false;      // the table holds the update
    std::string message;  // GBK: why not, when not ok; it says what is on disk
    // GBK: the table was updated but the source file could not be written (a later watch
    // then reports these changes again).
    std::string warning;
    int updated = 0;
    int removed = 0;
    std::string goneListPath;  // when offers moved out
};
PackageUpdate update_package(const std::string& tablePath, const std::string& packageFolder,
                             const std::vector<SourceEntry>& entries, const WatchReport& report);

// "<package>.changes.tsv": UTF-8 with a byte-order mark, TAB, one header line, a row per
// changed product.
std::string changes_file_bytes(const std::vector<ProductChange>& changes);
std::string changes_file_path(const std::string& packageFolder);

// GBK: "检查 N 个宝贝：价格变化 a，库存变化 b，规格变化 c，下架 d，失败 e，未变 f".
// fromPackage: the watch compared with the package's own values (it has no source file),
// which the summary then says.
std::string watch_summary(const WatchReport& report, bool fromPackage = false);

}  // namespace vq
