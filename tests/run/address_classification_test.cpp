// "添加到列表" against a scripted shop server: what each address kind fetches, logs and
// starts, and how a running job's readers meet a second add and a stop.

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

#include "api/site_settings.hpp"
#include "net/capture_server.hpp"
#include "run/run_fixture.hpp"
#include "source/address_classification.hpp"
#include "support/gbk_literal.hpp"

namespace {

using vq::AddOutcome;
using vq::AddressMode;
using vq::ListKind;
using vq::operator""_gbk;

std::string gbk(std::string_view utf8) { return vq::utf8_to_gbk(utf8); }

// A listing page of the second layout with the given ids, count and page-count markup.
std::string listing_page(const std::vector<std::string>& ids, const std::string& markers) {
    std::string page = "<html><body>" + markers;
    for (const std::string& id : ids) {
        page += "<a class=\"item-name\" href=\"http://i/item.htm?id=" + id +
                "\" target=\"_blank\">T" + id + "</a><span class=\"c-price\">1.00</span>\n";
    }
    return page + "</body></html>";
}

class AddAddressTest : public ::testing::Test {
protected:
    AddAddressTest()
        : server([this](const std::string& request) { return respond(request); }),
          readers({&list, &log, nullptr, folder.path}) {
        vq::init_http();
    }

    ~AddAddressTest() override {
        open_gate();
        readers.stop();
        vq::set_site_settings(vq::SiteSettings{});
    }

    // Pages by request target; anything else is a 404 with an empty body.
    std::string respond(const std::string& request) {
        const std::size_t from = request.find(' ') + 1;
        const std::string target = request.substr(from, request.find(' ', from) - from);
        if (target.find("pageNum=") != std::string::npos) {
            std::unique_lock lock(gateMutex);
            gateChanged.wait(lock, [this] { return gateOpen; });
        }
        std::lock_guard lock(pagesMutex);
        if (auto failing = failures.find(target); failing != failures.end() && failing->second > 0) {
            --failing->second;
            return "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n";
        }
        const auto it = pages.find(target);
        if (it == pages.end()) return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
        return vq::test::CaptureServer::ok(it->second);
    }

    void serve(const std::string& target, const std::string& body) {
        std::lock_guard lock(pagesMutex);
        pages[target] = body;
    }

    void close_gate() {
        std::lock_guard lock(gateMutex);
        gateOpen = false;
    }
    void open_gate() {
        {
            std::lock_guard lock(gateMutex);
            gateOpen = true;
        }
        gateChanged.notify_all();
    }

    AddOutcome add(const std::string& address, AddressMode mode) {
        return vq::add_address_to_list(address, mode, {&list, &log, nullptr, &readers});
    }

    std::string host() const { return "127.0.0.1:" + std::to_string(server.port()); }
    std::string base() const { return "http://" + host(); }

    int requests_for(const std::string& target) {
        int n = 0;
        for (const std::string& r : server.requests()) {
            n += r.rfind("GET " + target + " ", 0) == 0;
        }
        return n;
    }

    // The next `fail(target, n)` answers for target are a 500.
    void fail(const std::string& target, int times) {
        std::lock_guard lock(pagesMutex);
        failures[target] = times;
    }

    std::mutex pagesMutex;
    std::map<std::string, std::string> pages;
    std::map<std::string, int> failures;
    std::mutex gateMutex;
    std::condition_variable gateChanged;
    bool gateOpen = true;

    runtest::TempFolder folder;
    vq::ProductList list;
    runtest::RecordingLog log;
    vq::test::CaptureServer server;
    vq::ListingReaders readers;
};

TEST_F(AddAddressTest, BlankBoxOrNoModeDoesNothing) {
    serve("/offer/1.html", "offer_id:\"1\",<title>t</title>");
    const struct {
        std::string address;
        AddressMode mode;
    } cases[] = {
        {gbk("  　 "), AddressMode::Single},
        {"", AddressMode::Shop},
        {base() + "/offer/1.html", AddressMode::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(add(c.address, c.mode), AddOutcome::Nothing) << c.address;
    }
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(list.row_count(), 0);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AddAddressTest, SingleProductNeedsAnIdAndATitle) {
    serve("/offer/1.html", gbk("<title >围巾 - 阿里巴巴</title>\nvar c = {offer_id:\"1001\",\n};"));
    serve("/offer/2.html", "<title>no id</title>");
    serve("/offer/3.html", "offer_id:\"1003\",<title> </title>");

    EXPECT_EQ(add(base() + "/offer/1.html", AddressMode::Single), AddOutcome::RowAdded);
    ASSERT_EQ(list.row_count(), 1);
    const vq::ProductEntry row = list.row(0);
    EXPECT_EQ(row.title, gbk("围巾 - 阿里巴巴"));
    EXPECT_EQ(row.price, "");
    EXPECT_EQ(row.address, base() + "/offer/1.html");
    EXPECT_EQ(row.offerId, "1001");

    for (const char* path : {"/offer/2.html", "/offer/3.html", "/offer/404.html"}) {
        EXPECT_EQ(add(base() + path, AddressMode::Single), AddOutcome::NotFound) << path;
    }
    EXPECT_EQ(list.row_count(), 1);
    EXPECT_EQ(log.count_containing("  地址输入不正确，未识别到宝贝！\r\n"), 2);
    // A page that is not there is a product taken down, not a mistyped address.
    EXPECT_EQ(log.count_containing("  宝贝不存在或已下架：" + base() + "/offer/404.html\r\n"), 1);
    EXPECT_EQ(requests_for("/offer/404.html"), 1);

    // The same product again adds no second row.
    EXPECT_EQ(add(base() + "/offer/1.html", AddressMode::Single), AddOutcome::NotFound);
    EXPECT_EQ(list.row_count(), 1);
    EXPECT_EQ(log.count_containing("  1 个重复的宝贝未添加\r\n"), 1);

    // A page that keeps failing says so and is a failure, not a wrong address.
    serve("/offer/4.html", "offer_id:\"1004\",<title>t</title>");
    fail("/offer/4.html", vq::kPageTries);
    EXPECT_EQ(add(base() + "/offer/4.html", AddressMode::Single), AddOutcome::Failed);
    EXPECT_EQ(log.count_containing("  宝贝页面读取失败：" + base() + "/offer/4.html\r\n"), 1);
    fail("/offer/4.html", vq::kPageTries - 1);
    EXPECT_EQ(add(base() + "/offer/4.html", AddressMode::Single), AddOutcome::RowAdded);
    EXPECT_EQ(list.row_count(), 2);
}

// The id goes unencoded into the signed gateway request: a product page whose id is not
// digits adds no row, and the log says why.
TEST_F(AddAddressTest, SingleProductWhoseIdIsNotDigitsIsRefused) {
    serve("/offer/1.html", "offer_id:\"1&_aop_signature=FORGED&x\",<title>t</title>");
    serve("/offer/2.html", "offer_id:\"12#3\",<title>t</title>");
    for (const char* path : {"/offer/1.html", "/offer/2.html"}) {
        EXPECT_EQ(add(base() + path, AddressMode::Single), AddOutcome::NotFound) << path;
    }
    EXPECT_EQ(list.row_count(), 0);
    EXPECT_EQ(log.count_containing("  宝贝ID不是数字，已跳过：1&_aop_signature=FORGED&x\r\n"), 1);
    EXPECT_EQ(log.count_containing("  宝贝ID不是数字，已跳过：12#3\r\n"), 1);
}

TEST_F(AddAddressTest, ProductPageHostsAndMissingHostsAreNoShop) {
    vq::SiteSettings site;
    site.wholesale_detail_host = host();
    site.mall_detail_host = "mall.example";
    vq::set_site_settings(site);
    for (const std::string& address :
         {base(), base() + "/offer/1.html", std::string("http://mall.example/x"), std::string("shop")}) {
        EXPECT_EQ(add(address, AddressMode::Shop), AddOutcome::NotFound) << address;
    }
    EXPECT_EQ(log.count_containing("  店铺地址输入不正确，未识别到宝贝！\r\n"), 4);
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(AddAddressTest, ShopCountsAndFullWidthPageCountStartAJob) {
    // Capital letters in the count marker and full-width digits in the page count.
    serve("/page/offerlist.htm", listing_page({}, gbk("<div OFFER-COUNT\">6</em>条</div>"
                                                      "<em class=\"page-count\">３</em>页")));
    for (int p = 1; p <= 3; ++p) {
        serve("/page/offerlist.htm?&pageNum=" + std::to_string(p),
              listing_page({std::to_string(p) + "1", std::to_string(p) + "2"}, ""));
    }
    std::promise<void> finished;
    readers.set_finished_callback([&] { finished.set_value(); });
    ASSERT_EQ(add(base() + "/index.htm", AddressMode::Shop), AddOutcome::JobStarted);
    readers.wait();
    EXPECT_EQ(finished.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    readers.set_finished_callback(nullptr);
    EXPECT_EQ(readers.job().shopHost, host());
    EXPECT_EQ(readers.job().pageCount, 3);
    EXPECT_EQ(list.row_count(), 6);
    for (int p = 1; p <= 3; ++p) {
        EXPECT_EQ(requests_for("/page/offerlist.htm?&pageNum=" + std::to_string(p)), 1);
    }
    EXPECT_EQ(log.count_containing("  共搜索到：6 个商品\r\n"), 1);
    EXPECT_EQ(log.count_containing("  宝贝页码从第 1 页到第  ３  页下载，总页码数是 ３ 页！\r\n"), 1);
}

// A shop that claims two billion pages: the job reads the first 1000 and ends.
TEST_F(AddAddressTest, PageCountBeyondTheCapReadsTheFirstThousandPages) {
    serve("/page/offerlist.htm", listing_page({}, gbk("<em class=\"page-count\">2000000000</em>页")));
    serve("/page/offerlist.htm?&pageNum=1", listing_page({"11", "12"}, ""));
    ASSERT_EQ(add(base() + "/", AddressMode::Shop), AddOutcome::JobStarted);
    readers.wait();
    EXPECT_EQ(readers.job().pageCount, vq::kMostListingPages);
    EXPECT_EQ(readers.job().nextPage, vq::kMostListingPages);
    EXPECT_EQ(requests_for("/page/offerlist.htm?&pageNum=1000"), 1);
    EXPECT_EQ(requests_for("/page/offerlist.htm?&pageNum=1001"), 0);
    EXPECT_EQ(list.row_count(), 2);
    EXPECT_EQ(readers.report().pagesFailed, vq::kMostListingPages - 1);
    EXPECT_EQ(log.count_containing("  页码数 2000000000 超过上限，只读取前 1000 页！\r\n"), 1);
}

TEST_F(AddAddressTest, ShopWithoutPageCountStartsNothingAndAFailedCountPageIsAFailedJob) {
    serve("/page/offerlist.htm", listing_page({}, gbk("<em>0</em>条")));
    EXPECT_EQ(add(base() + "/", AddressMode::Shop), AddOutcome::NotFound);
    EXPECT_EQ(log.count_containing("  该分类未识别到宝贝！\r\n"), 1);

    // An offer list page that stays empty after its tries: a failed job, not a shop
    // without products.
    serve("/page/offerlist.htm", "");
    EXPECT_EQ(add(base() + "/", AddressMode::Shop), AddOutcome::Failed);
    EXPECT_EQ(requests_for("/page/offerlist.htm"), 1 + vq::kPageTries);
    EXPECT_EQ(log.count_containing("  第 1 页读取失败\r\n"), 1);
    EXPECT_EQ(log.count_containing("  读取 1 页，失败 1 页，添加 0 个宝贝\r\n"), 1);
    EXPECT_EQ(log.count_containing("  共搜索到："), 1);
    EXPECT_EQ(log.count_containing("  该分类未识别到宝贝！\r\n"), 1);
    EXPECT_FALSE(readers.running());
}

TEST_F(AddAddressTest, ListKindsAreRecognisedInOrder) {
    const std::string found = gbk("共搜索到<em>5</span></em>个符合条件的产品<em class=\"page-count\">1</em>页");
    const struct {
        std::string target;
        ListKind kind;  // None: not recognised
        std::string key;
    } cases[] = {
        {"/search.htm?search=y&scid=77&view=grid", ListKind::Scid, "77"},
        {"/search.htm?a=1&catId=88&b=2", ListKind::Category, "88"},
        // "category-" is tested after "scid=" and wins.
        {"/search.htm?a=1&scid=77&b=category-99.htm", ListKind::Category, "99"},
        // "keywords=" is tested last: the whole address is the key.
        {"/search.htm?a=1&scid=77&keywords=abc", ListKind::WholeAddress, "*"},
        {"/page/offerlist_66.htm", ListKind::WholeAddress, "*"},
        // The key is cut between "&scid=" / "&catId=" and the next "&".
        {"/search.htm?scid=77&b=2", ListKind::None, ""},
        {"/search.htm?a=1&catId=88", ListKind::None, ""},
        // Recognition is case-sensitive.
        {"/search.htm?a=1&SCID=77&b=2", ListKind::None, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        serve(c.target, found);
        const std::string address = base() + c.target;
        const std::size_t lines = log.size();
        if (c.kind == ListKind::None) {
            EXPECT_EQ(add(address, AddressMode::List), AddOutcome::NotFound);
            EXPECT_EQ(requests_for(c.target), 0);
            EXPECT_EQ(log.size(), lines + 1);
            continue;
        }
        ASSERT_EQ(add(address, AddressMode::List), AddOutcome::JobStarted);
        readers.wait();
        EXPECT_EQ(readers.job().listKind, c.kind);
        EXPECT_EQ(readers.job().listKey, c.key == "*" ? address : c.key);
        EXPECT_EQ(readers.job().shopHost, host());
        EXPECT_EQ(readers.job().pageCount, 1);
    }
    EXPECT_EQ(log.count_containing("  分类地址输入不正确，未识别到宝贝！\r\n"), 3);
    EXPECT_EQ(log.count_containing("  共搜索到：5 个商品\r\n"), 5);
}

TEST_F(AddAddressTest, ListPageCountRules) {
    // No page count but a search count: a job of no pages, which reads nothing.
    serve("/s.htm?keywords=a", gbk("共搜索到<em>5</span></em>个符合条件的产品"));
    EXPECT_EQ(add(base() + "/s.htm?keywords=a", AddressMode::List), AddOutcome::JobStarted);
    readers.wait();
    EXPECT_EQ(readers.job().pageCount, 0);

    // A search that found nothing ends the command.
    serve("/s.htm?keywords=b", gbk("共搜索到<em> 0 </span></em>个符合条件的产品"));
    EXPECT_EQ(add(base() + "/s.htm?keywords=b", AddressMode::List), AddOutcome::NotFound);
    EXPECT_EQ(log.count_containing("  该分类未识别到宝贝！\r\n"), 1);

    // A list page that is not there is a failed job.
    EXPECT_EQ(add(base() + "/s.htm?keywords=missing", AddressMode::List), AddOutcome::Failed);
    EXPECT_FALSE(readers.running());
    EXPECT_EQ(log.count_containing("  第 1 页读取失败\r\n"), 1);
    EXPECT_EQ(log.count_containing("  共搜索到： 个商品\r\n"), 0);
    EXPECT_EQ(log.count_containing("正在读取宝贝列表"), 0);
}

// A page that fails is tried again; one that still fails (or is not there) is counted and
// said, and the rows of the others are kept, in page order.
TEST_F(AddAddressTest, FailedPagesAreTriedAgainThenCountedAndTheOthersKept) {
    serve("/page/offerlist.htm", listing_page({}, "<em class=\"page-count\">4</em>" + gbk("页")));
    serve("/page/offerlist.htm?&pageNum=1", listing_page({"11", "12"}, ""));
    serve("/page/offerlist.htm?&pageNum=3", listing_page({"31"}, ""));
    serve("/page/offerlist.htm?&pageNum=4", listing_page({"41", "11"}, ""));
    fail("/page/offerlist.htm", vq::kPageTries - 1);
    fail("/page/offerlist.htm?&pageNum=3", vq::kPageTries - 1);
    fail("/page/offerlist.htm?&pageNum=4", vq::kPageTries);
    ASSERT_EQ(add(base() + "/", AddressMode::Shop), AddOutcome::JobStarted);
    readers.wait();

    EXPECT_EQ(requests_for("/page/offerlist.htm"), vq::kPageTries);
    EXPECT_EQ(requests_for("/page/offerlist.htm?&pageNum=2"), 1);  // a 404 is not tried again
    EXPECT_EQ(requests_for("/page/offerlist.htm?&pageNum=3"), vq::kPageTries);
    EXPECT_EQ(requests_for("/page/offerlist.htm?&pageNum=4"), vq::kPageTries);
    const std::vector<vq::ProductEntry> rows = list.rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].offerId, "11");
    EXPECT_EQ(rows[1].offerId, "12");
    EXPECT_EQ(rows[2].offerId, "31");
    EXPECT_EQ(log.count_containing("  第 2 页读取失败\r\n"), 1);
    EXPECT_EQ(log.count_containing("  第 4 页读取失败\r\n"), 1);
    EXPECT_EQ(log.count_containing("  读取成功，成功提取了：  "), 2);
    EXPECT_EQ(log.count_containing("宝贝下载完成"), 0);
    // The job's one last line says what it did; the list's size is not its work.
    EXPECT_EQ(log.count_containing("  读取 4 页，失败 2 页，添加 3 个宝贝\r\n"), 1);
    const vq::ListingReport report = readers.report();
    EXPECT_EQ(report.pagesRead, 4);
    EXPECT_EQ(report.pagesFailed, 2);
    EXPECT_EQ(report.rowsAdded, 3);

    // The same shop again: every row is in the list already.
    ASSERT_EQ(add(base() + "/", AddressMode::Shop), AddOutcome::JobStarted);
    readers.wait();
    EXPECT_EQ(list.row_count(), 4);  // page 4 answers now: only 41 is new
    EXPECT_EQ(log.count_containing("  4 个重复的宝贝未添加\r\n"), 1);
    EXPECT_EQ(log.count_containing("  读取 4 页，失败 1 页，添加 1 个宝贝\r\n"), 1);
}

TEST_F(AddAddressTest, RunningJobRefusesAnotherButTakesSingleProductsAndStops) {
    serve("/page/offerlist.htm", listing_page({}, "<em class=\"page-count\">3</em>" + gbk("页")));
    for (int p = 1; p <= 3; ++p) {
        serve("/page/offerlist.htm?&pageNum=" + std::to_string(p),
              listing_page({std::to_string(p) + "1", std::to_string(p) + "2"}, ""));
    }
    serve("/offer/5.html", "offer_id:\"5\",<title>five</title>");
    close_gate();  // the readers wait in their page requests

    ASSERT_EQ(add(base() + "/", AddressMode::Shop), AddOutcome::JobStarted);
    EXPECT_TRUE(readers.running());
    EXPECT_EQ(add(base() + "/", AddressMode::Shop), AddOutcome::JobRefused);
    EXPECT_EQ(add(base() + "/search.htm?a=1&scid=7&b=2", AddressMode::List), AddOutcome::JobRefused);
    EXPECT_EQ(log.count_containing("  上一个宝贝列表还在读取中，请等读取完成后再添加店铺或分类！\r\n"), 2);
    EXPECT_EQ(requests_for("/page/offerlist.htm"), 1);
    EXPECT_EQ(add(base() + "/offer/5.html", AddressMode::Single), AddOutcome::RowAdded);

    // Stop aborts the waiting requests; the stopped job adds and logs nothing more.
    const std::size_t lines = log.size();
    readers.stop();
    EXPECT_FALSE(readers.running());
    EXPECT_EQ(list.row_count(), 1);
    EXPECT_EQ(log.size(), lines);

    open_gate();
    ASSERT_EQ(add(base() + "/", AddressMode::Shop), AddOutcome::JobStarted);
    readers.wait();
    EXPECT_EQ(list.row_count(), 7);
}

}  // namespace
