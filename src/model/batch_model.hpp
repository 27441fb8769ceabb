#pragma once
// The records the copy run shares, and the small thread-safe "ports" through which the
// core reads the window's live controls and writes to its log pane. No front-end code
// here: a window or the command line owns these objects and observes them.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/listing_rules.hpp"
#include "model/offer_record.hpp"
#include "model/package_format.hpp"
#include "model/run_choices.hpp"
#include "support/clock.hpp"

namespace vq {

// Threads a copy run fetches products with, and a list job reads pages with.
inline constexpr int kWorkerCount = 5;

// One row of the product list; columns 0 to 3 are title, price, address, offerId.
struct ProductEntry {
    std::string title;
    std::string price;
    std::string address;
    std::string offerId;
};

// An offer id is one or more decimal digits. Anything else would add to or cut the signed
// gateway request it goes into, so it is refused wherever it enters.
constexpr bool is_offer_id(std::string_view id) {
    if (id.empty()) return false;
    for (const char c : id) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// The log text (GBK, no time stamp or line break) for an id that is refused: "宝贝ID不是数字，
// 已跳过：" and the id, cut to 40 bytes, with control bytes shown as "?".
std::string refused_offer_id_note(std::string_view id);

struct ApiCredential {
    std::string appkey;
    std::string appsecret;
};

// The log pane. One call appends one whole text (callers end lines with CR LF) and never
// blocks on the window; lines of different threads never interleave.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void append_log(std::string_view text) = 0;
};

// A text control that other threads read while the window may change it: readers get the
// old or the new value whole.
class SharedText {
public:
    SharedText() = default;
    explicit SharedText(std::string value) : value_(std::move(value)) {}
    std::string get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(std::string value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

private:
    mutable std::mutex mutex_;
    std::string value_;
};

// The two picture check boxes, read by workers at the moment they need them.
struct LiveOptions {
    std::atomic<bool> downloadDescriptionPictures{false};  // "下载描述图片"
    std::atomic<bool> taobaoOnly{false};                   // "只下载淘宝空间图片"
};

// The process-wide state of copy runs: the run counters under one lock (taken for the
// three indivisible steps only, never across network or window work), and the run
// settings the window writes while workers may read them.
class BatchState {
public:
    // Settings. Workers read them whenever they need them.
    std::vector<ApiCredential> credentials() const;
    void set_credentials(std::vector<ApiCredential> pairs);
    std::string outputFolder() const;  // ends with "/"
    std::string packageName() const;
    // Both change together, so a reader never pairs a new folder with an old name.
    void set_output(std::string folder, std::string name);
    // outputFolder + packageName: the picture folder of the package.
    std::string package_folder() const;
    std::atomic<PackageFormat> outputFormat{kDefaultFormat};
    std::atomic<FailurePolicy> pictureFailurePolicy{FailurePolicy::None};
    std::atomic<AddressMode> addressMode{AddressMode::None};
    // The listing rules as last loaded or saved; a run takes them at START.
    ListingRules rules() const;
    void set_rules(ListingRules rules);

    // Run counters.
    struct Counters {
        int productCount = 0;
        int nextProduct = 0;
        int finishedWorkers = 0;
        int workers = kWorkerCount;
        int succeeded = 0;
        int failed = 0;
        int failedPictures = 0;  // of the products in the package
        int skipped = 0;         // rows whose offer id an earlier row of the run holds
        // A run in parts claims no product past the end of the part under way, so the part
        // can be written before the next begins; productCount for a run in one part.
        int partEnd = 0;
    };
    // START: counters to zero, packageRows emptied, productCount = count, and the number of
    // workers whose finish completes the run (or its first part, ending at part_end; 0 = the
    // whole run).
    void reset_run(int product_count, int workers = kWorkerCount, int part_end = 0);
    // The next part, to product number part_end: its workers start again unfinished.
    void begin_part(int part_end);
    // A worker that never started: the others alone finish the part. True when that makes
    // every remaining worker finished.
    bool remove_worker();
    // Claim: the next product number n (1-based), or 0 when none is left in the part.
    int claim_next_product();
    // Append: adds a finished row and raises succeeded (and failedPictures by the
    // product's failed pictures).
    // source_row is the row's line of the package's source file.
    void append_package_row(std::string_view row, int failed_pictures = 0,
                            std::string_view source_row = {});
    // A row left out because an earlier row has its offer id: neither made nor failed.
    void record_skipped();
    // Finish: raises finishedWorkers; true for the worker that raised it to the run's number
    // of workers (the last of the part).
    bool finish_worker();
    // Completion: failed = productCount - succeeded - skipped; returns the counters.
    Counters complete();
    Counters counters() const;
    int productCount() const;
    // The accumulated rows; meant for the completing worker (no appends race it then).
    std::string take_package_rows();
    // Rows taken that could not be written, put back before any made since; not counted again.
    void restore_package_rows(std::string rows);
    // The same for the rows' source lines, taken and put back with them.
    std::string take_source_rows();
    void restore_source_rows(std::string rows);
    // A product that made no row, with its list row as the worker read it, so the user can
    // retry just those.
    void record_failed_product(int n, ProductEntry row);
    // The failed products' rows in product order; for the completing worker.
    std::vector<ProductEntry> take_failed_products();
    // The same with each row's product number.
    std::vector<std::pair<int, ProductEntry>> take_numbered_failed_products();

private:
    mutable std::mutex runMutex_;
    Counters counters_;
    std::string packageRows_;
    std::string sourceRows_;
    std::vector<std::pair<int, ProductEntry>> failedProducts_;

    mutable std::mutex credentialsMutex_;
    std::vector<ApiCredential> credentials_;
    mutable std::mutex outputMutex_;
    std::string outputFolder_;
    std::string packageName_;
    mutable std::mutex rulesMutex_;
    ListingRules rules_;
};

// What a run takes at START and keeps to its end: a path chosen or a format or rules saved
// during the run apply to the next one, so a package never ends up split in two.
struct RunSettings {
    std::string outputPath;     // the table file, GBK
    std::string packageFolder;  // outputFolder + packageName, no trailing separator
    PackageFormat outputFormat = kDefaultFormat;
    FailurePolicy pictureFailurePolicy = FailurePolicy::None;
    // Add the run's rows after those of the package already at outputPath instead of
    // replacing it (a retry of the failed products).
    bool append = false;
    ListingRules rules;
};

// A picture the disk or its folder refused: every picture after it would fail the same way,
// so the run stops at the first. Thread-safe; the first report is kept.
class WriteTrouble {
public:
    void report(int error, std::string gbk_path);
    bool seen() const { return seen_.load(std::memory_order_acquire); }
    // "磁盘空间不足：PATH" for a full disk or quota, else "无法写入文件：PATH（reason）".
    std::string message() const;

private:
    std::atomic<bool> seen_{false};
    mutable std::mutex mutex_;
    int error_ = 0;
    std::string path_;
};

}  // namespace vq
