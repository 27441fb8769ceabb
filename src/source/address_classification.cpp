#include "source/address_classification.hpp"

#include <charconv>
#include <cmath>
#include <limits>

#include "api/site_settings.hpp"
#include "net/http_client.hpp"
#include "support/gbk_literal.hpp"
#include "support/markers.hpp"
#include "support/text.hpp"

namespace vq {

namespace {

// The leading number of a page-count text, full-width digits and signs read as their
// half-width forms; nothing when there is none.
std::string leading_number(std::string_view text) {
    std::string half;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = gbk_char_length(text, i);
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        // Full-width ASCII sits at A3 A1..A3 FE, the half-width byte + 0x80.
        if (length == 2 && lead == 0xA3) {
            half += static_cast<char>(static_cast<unsigned char>(text[i + 1]) - 0x80);
        } else if (length == 2 && lead == 0xA1 && static_cast<unsigned char>(text[i + 1]) == 0xA1) {
            half += ' ';
        } else {
            half.append(text.substr(i, length));
        }
        i += length;
    }
    std::size_t at = half.find_first_not_of(" \t\r\n");
    if (at == std::string::npos) return {};
    std::string number;
    if (half[at] == '+' || half[at] == '-') number += half[at++];
    bool digits = false, point = false;
    for (; at < half.size(); ++at) {
        const char c = half[at];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        number += c;
    }
    return digits ? number : std::string();
}

bool counts_as_zero(double value) {
    return !(std::fabs(value) > 0.0000001);
}

// The page count as written on an offer list or list page; empty when it has none.
std::string page_count_text(std::string_view page) {
    std::string pages = scrape_between(page, "<em class=\"page-count\">", "</em>页"_gbk);
    if (pages.empty()) pages = scrape_between(page, "<b class=\"ui-page-s-len\">", "</b>");
    return pages;
}

std::string search_count(std::string_view page) {
    return trim_blanks(
        scrape_between(page, "共搜索到<em>"_gbk, "</span></em>个符合条件的产品"_gbk));
}

class Command {
public:
    Command(std::string_view address, const AddAddressPorts& ports)
        : address_(address), ports_(ports),
          clock_(ports.clock ? *ports.clock : system_clock()) {}

    AddOutcome single();
    AddOutcome shop();
    AddOutcome list();

private:
    void log(const std::string& text) const {
        if (ports_.log) ports_.log->append_log(log_time_stamp(clock_) + text);
    }
    // A second job while readers still run would be refused at its start anyway; saying
    // so before fetching anything spares the user the wait.
    bool readers_busy() const {
        if (!ports_.readers || !ports_.readers->running()) return false;
        log_refusal();
        return true;
    }
    void log_refusal() const {
        log("  上一个宝贝列表还在读取中，请等读取完成后再添加店铺或分类！\r\n"_gbk);
    }
    AddOutcome start_job(ListingJob job, const std::string& pages) const;
    // Without its first page the job cannot know its pages: a failed job, not "no products".
    AddOutcome count_page_failed() const {
        if (thread_cancelled()) return AddOutcome::Failed;
        log("  第 1 页读取失败\r\n"_gbk);
        ListingReport report;
        report.pagesRead = report.pagesFailed = 1;
        log(job_end_line(report));
        return AddOutcome::Failed;
    }

    std::string_view address_;
    const AddAddressPorts& ports_;
    const Clock& clock_;
};

AddOutcome Command::single() {
    PageFetch fetched = fetch_page(address_);
    if (fetched.status == 404) {
        log("  宝贝不存在或已下架："_gbk + std::string(address_) + "\r\n");
        return AddOutcome::NotFound;
    }
    if (!fetched.ok && !thread_cancelled()) {
        log("  宝贝页面读取失败："_gbk + std::string(address_) + "\r\n");
        return AddOutcome::Failed;
    }
    const std::string page = page_text(std::move(fetched.bytes));
    const std::string id = scrape_between(page, "offer_id:\"", "\",");
    std::string title = scrape_between(page, "<title>", "</title>");
    if (title.empty()) title = scrape_between(page, "<title >", "</title>");
    if (trim_blanks(id).empty() || trim_blanks(title).empty()) {
        log("  地址输入不正确，未识别到宝贝！\r\n"_gbk);
        return AddOutcome::NotFound;
    }
    if (!is_offer_id(id)) {
        log("  "_gbk + refused_offer_id_note(id) + "\r\n");
        return AddOutcome::NotFound;
    }
    ProductEntry row;
    row.title = title;
    row.address = std::string(address_);
    row.offerId = id;
    if (ports_.list && ports_.list->append_new_rows({std::move(row)}) > 0) {
        log("  1 个重复的宝贝未添加\r\n"_gbk);
        return AddOutcome::NotFound;
    }
    return AddOutcome::RowAdded;
}

AddOutcome Command::shop() {
    if (readers_busy()) return AddOutcome::JobRefused;
    const std::string host = trim_blanks(scrape_between(address_, "http://", "/"));
    const SiteSettings site = site_settings();
    // A product page address is not a shop.
    if (host.empty() || host == site.wholesale_detail_host || host == site.mall_detail_host) {
        log("  店铺地址输入不正确，未识别到宝贝！\r\n"_gbk);
        return AddOutcome::NotFound;
    }
    PageFetch fetched = fetch_page("http://" + host + "/page/offerlist.htm");
    if (!fetched.ok) return count_page_failed();
    const std::string page = page_text(std::move(fetched.bytes));
    const std::string count = trim_blanks(scrape_between(page, "offer-count\">", "</em>条"_gbk));
    log("  共搜索到："_gbk + count + " 个商品\r\n"_gbk);
    const std::string pages = page_count_text(page);
    if (counts_as_zero(page_count_value(pages))) {
        log("  该分类未识别到宝贝！\r\n"_gbk);
        return AddOutcome::NotFound;
    }
    ListingJob job;
    job.addressMode = AddressMode::Shop;
    job.shopHost = host;
    job.itemHost = site.item_host;
    return start_job(std::move(job), pages);
}

AddOutcome Command::list() {
    if (readers_busy()) return AddOutcome::JobRefused;
    // Later tests win over earlier ones; the searches here are case-sensitive.
    ListKind kind = ListKind::None;
    std::string key;
    if (contains_text(address_, "scid=")) {
        kind = ListKind::Scid;
        key = trim_blanks(scrape_between(address_, "&scid=", "&"));
    }
    if (contains_text(address_, "catId=")) {
        kind = ListKind::Category;
        key = trim_blanks(scrape_between(address_, "&catId=", "&"));
    }
    if (contains_text(address_, "category-")) {
        kind = ListKind::Category;
        key = trim_blanks(scrape_between(address_, "category-", "."));
    }
    if (contains_text(address_, "offerlist_") || contains_text(address_, "keywords=")) {
        kind = ListKind::WholeAddress;
        key = trim_blanks(address_);
    }
    if (key.empty()) {
        log("  分类地址输入不正确，未识别到宝贝！\r\n"_gbk);
        return AddOutcome::NotFound;
    }
    PageFetch fetched = fetch_page(address_);
    if (!fetched.ok) return count_page_failed();
    const std::string page = page_text(std::move(fetched.bytes));
    const std::string host = trim_blanks(scrape_between(address_, "http://", "/"));
    std::string count = trim_blanks(scrape_between(page, "offer-count\">", "</em>条"_gbk));
    if (count.empty()) count = search_count(page);
    log("  共搜索到："_gbk + count + " 个商品\r\n"_gbk);
    const std::string pages = page_count_text(page);
    // Only a search that says it found nothing ends here; a list page without a page
    // count starts a job that reads nothing.
    if (counts_as_zero(page_count_value(pages)) && search_count(page) == "0") {
        log("  该分类未识别到宝贝！\r\n"_gbk);
        return AddOutcome::NotFound;
    }
    ListingJob job;
    job.addressMode = AddressMode::List;
    job.shopHost = host;
    job.listKind = kind;
    job.listKey = key;
    job.itemHost = site_settings().item_host;
    return start_job(std::move(job), pages);
}

AddOutcome Command::start_job(ListingJob job, const std::string& pages) const {
    log("  宝贝页码从第 1 页到第  "_gbk + pages + "  页下载，总页码数是 "_gbk + pages +
        " 页！\r\n"_gbk);
    job.pageCount = page_count_integer(pages);
    if (job.pageCount > kMostListingPages) {
        log("  页码数 "_gbk + pages + " 超过上限，只读取前 "_gbk +
            std::to_string(kMostListingPages) + " 页！\r\n"_gbk);
        job.pageCount = kMostListingPages;
    }
    job.nextPage = 0;
    if (!ports_.readers) return AddOutcome::JobStarted;
    if (!ports_.readers->start(std::move(job))) {
        log_refusal();
        return AddOutcome::JobRefused;
    }
    return AddOutcome::JobStarted;
}

}  // namespace

double page_count_value(std::string_view text) {
    const std::string number = leading_number(text);
    if (number.empty()) return 0;
    // from_chars, not stod: the window's locale may use another decimal point.
    const char* first = number.data() + (number[0] == '+' ? 1 : 0);
    double value = 0;
    const auto [end, error] = std::from_chars(first, number.data() + number.size(), value);
    (void)end;
    if (error == std::errc()) return value;
    // Out of range: too large when the whole part is not zero, else too small.
    const std::string whole = number.substr(0, number.find('.'));
    if (whole.find_first_of("123456789") == std::string::npos) return 0;
    return number[0] == '-' ? -HUGE_VAL : HUGE_VAL;
}

int page_count_integer(std::string_view text) {
    const double value = page_count_value(text);
    if (value >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

AddOutcome add_address_to_list(std::string_view address, AddressMode mode,
                               const AddAddressPorts& ports) {
    if (trim_blanks(address).empty()) return AddOutcome::Nothing;
    Command command(address, ports);
    switch (mode) {
        case AddressMode::Single: return command.single();
        case AddressMode::Shop: return command.shop();
        case AddressMode::List: return command.list();
        case AddressMode::None: break;
    }
    return AddOutcome::Nothing;
}

}  // namespace vq
