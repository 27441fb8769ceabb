#pragma once
// The listing page reader: five threads share the pages of one shop or list job, scan
// each page with the four known page templates and append every product found to the
// product list.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "model/batch_model.hpp"
#include "model/product_list.hpp"
#include "model/run_choices.hpp"
#include "support/clock.hpp"
#include "support/regex_matcher.hpp"

namespace vq {

inline constexpr int kListingReaderCount = kWorkerCount;
// Pages one job reads at most: a page that claims more (a broken or hostile shop says
// "2000000000页") would otherwise keep the readers fetching without end.
inline constexpr int kMostListingPages = 1000;

// How a list address names its list: not at all, by "scid=", by "catId=" or "category-",
// or as the whole address that page numbers are appended to.
enum class ListKind { None, Scid, Category, WholeAddress };

// One shop or list job. The readers work on their own copy taken when the job starts, so
// an add made meanwhile (a single product, a changed mode) cannot change their page
// addresses.
struct ListingJob {
    AddressMode addressMode = AddressMode::None;  // Shop or List
    std::string shopHost;  // host[:port] of the typed address
    ListKind listKind = ListKind::None;
    std::string listKey;   // the list's key (Scid, Category) or the whole trimmed address
    int pageCount = 0;
    int nextPage = 0;      // pages handed out so far
    std::string itemHost;  // host[:port] that item addresses are built on
};

// Address of page p (1-based) of the job: the shop's offer list, or the list by its kind.
// Empty for a list job of kind None.
std::string listing_page_address(const ListingJob& job, int page);

// The products of one listing page.
struct ListingPage {
    std::string templateName;       // "普通", "旺铺", "店铺街", "新天猫"; empty when none matched
    int itemMatches = 0;            // items the template found, skipped ones included
    std::vector<ProductEntry> rows; // in page order; items whose id came out empty are skipped
    // Ids of items left out because they are not decimal digits (they would change the
    // gateway request), in page order.
    std::vector<std::string> refusedIds;
};

// Scans page texts with the four templates, tried in order; the first whose item pattern
// matches is used, with its own price pattern. Items and prices pair by order. One
// scanner belongs to one thread.
class ListingScanner {
public:
    ListingScanner();
    ~ListingScanner();
    ListingScanner(const ListingScanner&) = delete;
    ListingScanner& operator=(const ListingScanner&) = delete;
    // page: GBK text with NUL bytes already blanked. item_host builds item addresses.
    ListingPage scan(std::string_view page, std::string_view item_host);

private:
    struct Template;
    // Compiled once per scanner: every page tries the same patterns.
    std::vector<std::unique_ptr<Template>> templates_;
};

// The fetched bytes of a page as page text: every NUL byte becomes a blank.
std::string page_text(std::string bytes);

// Requests a page gets before it counts as failed: a shop under load drops some, and a
// lost page would silently lose its products.
inline constexpr int kPageTries = 4;

struct PageFetch {
    bool ok = false;   // a 2xx answer with at least one byte
    int status = 0;    // the final HTTP status; 0 when no answer came
    std::string bytes;  // the last answer's body, as received (an error page too)
};

// Fetches a page with the direct client, trying a failed request again up to
// kPageTries - 1 times with a short back-off; the calling thread's stop ends the tries
// (the result is then not ok). A 404 is an answer, not a hiccup: it is not tried again.
PageFetch fetch_page(std::string_view address);

// Where the readers put what they find.
struct ListingPorts {
    ProductList* list = nullptr;
    LogSink* log = nullptr;
    const Clock* clock = nullptr;  // log time stamps; the system clock when null
    std::string programFolder;     // GBK; the last page read is kept there as "aa.txt"
};

// What a job's readers did, for the caller to judge the job by.
struct ListingReport {
    int pagesRead = 0;    // pages handed out and fetched, failed ones included
    int pagesFailed = 0;  // pages still failing after their tries
    int rowsAdded = 0;    // rows the job put in the list
    int repeated = 0;     // rows left out because their offer id was in the list already
};

// The job's last log line (GBK, no time stamp, ends with CR LF): "读取 P 页，失败 F 页，添加 N 个宝贝".
std::string job_end_line(const ListingReport& report);

// Runs one listing job at a time on five reader threads and owns them. The pages are read
// side by side, and their rows are added in page order.
class ListingReaders {
public:
    explicit ListingReaders(ListingPorts ports);
    // Stops the readers (requests in flight are aborted) and waits for them.
    ~ListingReaders();
    ListingReaders(const ListingReaders&) = delete;
    ListingReaders& operator=(const ListingReaders&) = delete;

    // Starts five readers over job, numbered 1 to 5, with nextPage reset to 0. False,
    // starting nothing, while readers of an earlier job still run.
    bool start(ListingJob job);

    // True from a successful start until the last reader of that job has ended.
    bool running() const;

    // Blocks until no reader runs. start, stop and wait may come from any thread.
    void wait();

    // Readers take no further page and abort their requests in flight; returns once they
    // have ended, and from then on the stopped job adds no rows and logs nothing.
    void stop();

    // Called on the last reader's thread, after it has ended its work and with no lock
    // held, each time a job's readers have all ended (running() is false by then). It must
    // not call start(), stop() or wait() itself: queue such work to another thread.
    void set_finished_callback(std::function<void()> callback);

    // The current (or last) job, nextPage as it stands.
    ListingJob job() const;
    // The current (or last) job's counts as they stand.
    ListingReport report() const;

private:
    struct Run;
    // The reader thread routine; n is the thread number 1 to 5.
    void read_listing_pages(Run& run, int n);
    int claim_next_page(Run& run);
    // Hands in page p's rows; the rows of every page whose earlier pages are all in go to
    // the list, by one reader at a time.
    void page_done(Run& run, int p, std::vector<ProductEntry> rows, bool failed);
    void add_ready_pages(Run& run, bool stopping);
    void join_finished();
    void reader_ended(Run& run);

    ListingPorts ports_;
    // Taken by start, stop and the destructor (never by readers): they join threads.
    std::mutex controlMutex_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::unique_ptr<Run> run_;
    std::vector<std::thread> threads_;
    int runningReaders_ = 0;
    std::function<void()> finished_;
};

}  // namespace vq
