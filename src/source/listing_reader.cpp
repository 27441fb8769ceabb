#include "source/listing_reader.hpp"

#include <algorithm>
#include <chrono>
#include <map>
#include <system_error>

#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/markers.hpp"
#include "support/text.hpp"

namespace vq {

namespace {

enum class Layout { Plain, Wangpu, ShopStreet, NewTmall };

struct TemplateText {
    Layout layout;
    // UTF-8 here; made GBK when compiled.
    const char* name;
    const char* item;
    const char* price;
};

// The markup of the four shop page layouts, in the order they are tried. The line feeds,
// tabs and the eight blanks of the plain layout are part of its markup.
constexpr TemplateText kTemplates[] = {
    {Layout::Plain, "普通",
     "<div class=\"image\">\n\t<a href=\"(.*?)\" title=\"(.*?)\" target=\"_blank\">\n\t\t<",
     "\">&yen;</span>\n        \t<em>(.*?)</em>"},
    {Layout::Wangpu, "旺铺",
     "<a class=\"item-name\" href=\".*?id=(.*?)\" target=\"_blank\">(.*?)</a>",
     "<span class=\"c-price\">(.*?)</span>"},
    {Layout::ShopStreet, "店铺街",
     "<a title=\"(.*?)\"  href=\".*?id=(.*?)\" target=\"_blank\">",
     "<strong>(.*?) 元</strong>"},
    {Layout::NewTmall, "新天猫",
     "<a class=\"item-name\" .*? href=\".*?id=(.*?)\" target=\"_blank\">(.*?)</a>",
     "<span class=\"c-price\">(.*?)</span>"},
};

std::string item_address(std::string_view item_host, std::string_view id) {
    return "http://" + std::string(item_host) + "/item.htm?id=" + std::string(id);
}

}  // namespace

struct ListingScanner::Template {
    Layout layout;
    std::string name;  // GBK
    RegexMatcher items{RegexMatcher::Dialect::Perl};
    RegexMatcher prices{RegexMatcher::Dialect::Perl};
};

ListingScanner::ListingScanner() {
    for (const TemplateText& text : kTemplates) {
        auto t = std::make_unique<Template>();
        t->layout = text.layout;
        t->name = utf8_to_gbk(text.name);
        t->items.compile(utf8_to_gbk(text.item));
        t->prices.compile(utf8_to_gbk(text.price));
        templates_.push_back(std::move(t));
    }
}

ListingScanner::~ListingScanner() = default;

ListingPage ListingScanner::scan(std::string_view page, std::string_view item_host) {
    ListingPage result;
    for (const auto& t : templates_) {
        const int items = t->items.find_all(page);
        if (items == 0) continue;
        const int prices = t->prices.find_all(page);
        result.templateName = t->name;
        result.itemMatches = items;
        for (int i = 1; i <= items; ++i) {
            const std::string g1 = t->items.group_text(i, 1, page);
            const std::string g2 = t->items.group_text(i, 2, page);
            ProductEntry row;
            switch (t->layout) {
                case Layout::Plain:
                    row.offerId = scrape_between(g1, "offer/", ".html");
                    row.title = g2;
                    row.address = g1;
                    break;
                case Layout::Wangpu:
                    row.offerId = g1;
                    row.title = g2;
                    break;
                case Layout::ShopStreet:
                    row.offerId = g2;
                    row.title = g1;
                    break;
                case Layout::NewTmall:
                    // The id runs up to the next parameter; a link without one is no product.
                    row.offerId = text_before(g1, "&");
                    row.title = g2;
                    break;
            }
            if (row.offerId.empty()) continue;
            if (!is_offer_id(row.offerId)) {
                result.refusedIds.push_back(std::move(row.offerId));
                continue;
            }
            if (t->layout != Layout::Plain) row.address = item_address(item_host, row.offerId);
            // Items and prices pair by their order on the page.
            if (i <= prices) row.price = t->prices.group_text(i, 1, page);
            result.rows.push_back(std::move(row));
        }
        break;
    }
    return result;
}

std::string page_text(std::string bytes) {
    std::replace(bytes.begin(), bytes.end(), '\0', ' ');
    return bytes;
}

namespace {

// The status of the last answer in a header block (redirects put several there).
int final_status(std::string_view headers) {
    int status = 0;
    for (std::size_t at = 0; at < headers.size();) {
        std::size_t end = headers.find('\n', at);
        if (end == std::string_view::npos) end = headers.size();
        const std::string_view line = headers.substr(at, end - at);
        if (line.starts_with("HTTP/")) {
            const std::size_t blank = line.find(' ');
            int value = 0;
            for (std::size_t i = blank == std::string_view::npos ? line.size() : blank + 1;
                 i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
                value = value * 10 + (line[i] - '0');
            }
            status = value;
        }
        at = end + 1;
    }
    return status;
}

}  // namespace

PageFetch fetch_page(std::string_view address) {
    PageFetch fetched;
    for (int attempt = 1; attempt <= kPageTries; ++attempt) {
        if (attempt > 1 && !pause_unless_cancelled(std::chrono::milliseconds(250 * (attempt - 1)))) {
            break;
        }
        std::string headers;
        fetched.bytes = fetch_with_timeout(address, {}, {}, {}, nullptr, {}, 0, false, {}, {}, {},
                                           &headers);
        fetched.status = final_status(headers);
        fetched.ok = fetched.status >= 200 && fetched.status < 300 && !fetched.bytes.empty();
        if (fetched.ok || thread_cancelled()) break;
        if (fetched.status == 404) break;
    }
    if (thread_cancelled()) fetched.ok = false;
    return fetched;
}

std::string listing_page_address(const ListingJob& job, int page) {
    const std::string p = std::to_string(page);
    if (job.addressMode == AddressMode::Shop) {
        return "http://" + job.shopHost + "/page/offerlist.htm?&pageNum=" + p;
    }
    switch (job.listKind) {
        case ListKind::Scid:
            return "http://" + job.shopHost + "/search.htm?&search=y&scid=" + job.listKey +
                   "&viewType=grid&orderType=_hotsell&pageNum=" + p;
        case ListKind::Category:
            return "http://" + job.shopHost + "/search.htm?&search=y&catId=" + job.listKey +
                   "&viewType=grid&orderType=_hotsell&pageNum=" + p;
        case ListKind::WholeAddress:
            return job.listKey + "&pageNum=" + p;
        case ListKind::None:
            break;
    }
    return {};
}

std::string job_end_line(const ListingReport& report) {
    return "  读取 "_gbk + std::to_string(report.pagesRead) + " 页，失败 "_gbk +
           std::to_string(report.pagesFailed) + " 页，添加 "_gbk + std::to_string(report.rowsAdded) +
           " 个宝贝\r\n"_gbk;
}

struct ListingReaders::Run {
    explicit Run(ListingJob j) : job(std::move(j)) {}
    ListingJob job;  // nextPage is guarded by the readers' mutex
    CancelToken token;
    // Under the readers' mutex: pages read and not yet added, the next page to add, and
    // whether a reader is adding now.
    std::map<int, std::vector<ProductEntry>> ready;
    int nextToAdd = 1;
    bool adding = false;
    ListingReport report;
};

ListingReaders::ListingReaders(ListingPorts ports) : ports_(std::move(ports)) {}

ListingReaders::~ListingReaders() {
    stop();
}

void ListingReaders::set_finished_callback(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    finished_ = std::move(callback);
}

bool ListingReaders::running() const {
    std::lock_guard lock(mutex_);
    return runningReaders_ > 0;
}

ListingJob ListingReaders::job() const {
    std::lock_guard lock(mutex_);
    return run_ ? run_->job : ListingJob{};
}

ListingReport ListingReaders::report() const {
    std::lock_guard lock(mutex_);
    return run_ ? run_->report : ListingReport{};
}

void ListingReaders::wait() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return runningReaders_ == 0; });
}

void ListingReaders::join_finished() {
    for (std::thread& t : threads_) {
        if (t.joinable()) t.join();
    }
    threads_.clear();
}

bool ListingReaders::start(ListingJob job) {
    std::lock_guard control(controlMutex_);
    {
        std::lock_guard lock(mutex_);
        if (runningReaders_ > 0) return false;
    }
    // The previous job's threads have ended their work; only their return is left.
    join_finished();
    job.nextPage = 0;
    threads_.reserve(kListingReaderCount);
    auto run = std::make_unique<Run>(std::move(job));
    Run& current = *run;
    {
        std::lock_guard lock(mutex_);
        run_ = std::move(run);
        runningReaders_ = kListingReaderCount;
    }
    for (int n = 1; n <= kListingReaderCount; ++n) {
        try {
            threads_.emplace_back([this, &current, n] { read_listing_pages(current, n); });
        } catch (const std::system_error&) {
            // The other readers share its pages, so the job still completes.
            if (ports_.log) {
                const Clock& clock = ports_.clock ? *ports_.clock : system_clock();
                ports_.log->append_log(log_time_stamp(clock) + "  线程："_gbk + std::to_string(n) +
                                       " 无法启动！其余线程继续读取。\r\n"_gbk);
            }
            reader_ended(current);
        }
    }
    return true;
}

void ListingReaders::stop() {
    std::lock_guard control(controlMutex_);
    {
        std::lock_guard lock(mutex_);
        if (run_) run_->token.cancel();
    }
    join_finished();
    // Pages read before the stop and held back for an earlier page are kept too.
    Run* run = nullptr;
    {
        std::lock_guard lock(mutex_);
        run = run_.get();
    }
    if (run) add_ready_pages(*run, true);
}

int ListingReaders::claim_next_page(Run& run) {
    std::lock_guard lock(mutex_);
    if (run.token.is_cancelled() || run.job.nextPage >= run.job.pageCount) return 0;
    return ++run.job.nextPage;
}

void ListingReaders::page_done(Run& run, int p, std::vector<ProductEntry> rows, bool failed) {
    {
        std::lock_guard lock(mutex_);
        ++run.report.pagesRead;
        if (failed) ++run.report.pagesFailed;
        run.ready.emplace(p, std::move(rows));
    }
    add_ready_pages(run, false);
}

void ListingReaders::add_ready_pages(Run& run, bool stopping) {
    {
        std::lock_guard lock(mutex_);
        if (run.adding) return;  // that reader takes these pages along
        run.adding = true;
    }
    for (;;) {
        std::vector<ProductEntry> rows;
        {
            std::lock_guard lock(mutex_);
            // A stopped job adds nothing more until stop() itself keeps what was read.
            const bool go = stopping || !run.token.is_cancelled();
            while (go && !run.ready.empty()) {
                const auto first = run.ready.begin();
                // At a stop the page still missing will never come: skip past it.
                if (first->first != run.nextToAdd && !stopping) break;
                for (ProductEntry& row : first->second) rows.push_back(std::move(row));
                run.nextToAdd = first->first + 1;
                run.ready.erase(first);
            }
            if (rows.empty()) {
                run.adding = false;
                return;
            }
        }
        const int total = static_cast<int>(rows.size());
        const int repeated = ports_.list ? ports_.list->append_new_rows(std::move(rows)) : 0;
        std::lock_guard lock(mutex_);
        run.report.rowsAdded += total - repeated;
        run.report.repeated += repeated;
    }
}

void ListingReaders::reader_ended(Run& run) {
    std::function<void()> finished;
    ListingReport report;
    {
        std::lock_guard lock(mutex_);
        if (--runningReaders_ > 0) return;
        finished = finished_;
        report = run.report;
    }
    if (ports_.log && !run.token.is_cancelled()) {
        // Said once for the whole job, from what it added, not from the list's size.
        const Clock& clock = ports_.clock ? *ports_.clock : system_clock();
        if (report.repeated > 0) {
            ports_.log->append_log(log_time_stamp(clock) + "  "_gbk + std::to_string(report.repeated) +
                                   " 个重复的宝贝未添加\r\n"_gbk);
        }
        ports_.log->append_log(log_time_stamp(clock) + job_end_line(report));
    }
    idle_.notify_all();
    if (finished) finished();
}

void ListingReaders::read_listing_pages(Run& run, int n) {
    CancelScope scope(run.token);
    const Clock& clock = ports_.clock ? *ports_.clock : system_clock();
    // A stopped job says nothing more.
    const auto log = [&](const std::string& text) {
        if (ports_.log && !run.token.is_cancelled()) {
            ports_.log->append_log(log_time_stamp(clock) + text);
        }
    };
    const std::string number = std::to_string(n);
    const std::string pages = std::to_string(run.job.pageCount);
    const std::string diagnostic =
        ports_.programFolder.empty() ? std::string() : ports_.programFolder + "/aa.txt";
    ListingScanner scanner;

    for (int p = claim_next_page(run); p != 0; p = claim_next_page(run)) {
        const std::string address = listing_page_address(run.job, p);
        PageFetch fetched;
        if (!address.empty()) fetched = fetch_page(address);
        if (run.token.is_cancelled()) break;
        log("  线程："_gbk + number + "  正在读取宝贝列表 第：  "_gbk + std::to_string(p) + " /" +
            pages + " 页\r\n"_gbk);
        const std::string page = page_text(std::move(fetched.bytes));
        // A copy of the last page read, for looking at a page the templates did not know.
        if (!diagnostic.empty()) write_file_atomic(diagnostic, page);
        if (!address.empty() && !fetched.ok) {
            log("  线程："_gbk + number + "  第 "_gbk + std::to_string(p) + " 页读取失败\r\n"_gbk);
            page_done(run, p, {}, true);
            continue;
        }

        ListingPage found = scanner.scan(page, run.job.itemHost);
        if (run.token.is_cancelled()) break;
        for (const std::string& id : found.refusedIds) {
            log("  线程："_gbk + number + "  "_gbk + refused_offer_id_note(id) + "\r\n");
        }
        log("  线程："_gbk + number + "  读取成功，成功提取了：  "_gbk +
            std::to_string(found.rows.size()) + "  个宝贝\r\n"_gbk);
        page_done(run, p, std::move(found.rows), false);
    }
    reader_ended(run);
}

}  // namespace vq
