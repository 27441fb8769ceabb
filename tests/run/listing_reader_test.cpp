// Shop and list jobs read from the stand-in marketplace by five readers.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "marketplace-sim/shop_pages.hpp"
#include "product_rows.hpp"
#include "run/run_fixture.hpp"
#include "source/address_classification.hpp"

namespace {

using runtest::RunFixture;

class ListingReaderTest : public RunFixture {
protected:
    void start(vq::sim::SimOptions options = {}) {
        start_sim(options);
        readers = std::make_unique<vq::ListingReaders>(
            vq::ListingPorts{&list, &log, nullptr, folder.path});
    }

    void TearDown() override {
        readers.reset();
        RunFixture::TearDown();
    }

    vq::AddOutcome add(const std::string& address, vq::AddressMode mode) {
        return vq::add_address_to_list(address, mode, {&list, &log, nullptr, readers.get()});
    }

    std::string shop_address(int n) const {
        return vq::sim::site_address("shop" + std::to_string(n), sim.port()) + "/";
    }

    // How often each page target of a host was asked for, from the stand-in's statistics.
    std::map<std::string, int> page_requests(int shop) const {
        std::map<std::string, int> counts;
        std::istringstream lines(sim.stats_text());
        const std::string host = "shop" + std::to_string(shop) + ".localhost";
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string kind, count, requestHost, target;
            words >> kind >> count >> requestHost >> target;
            if (kind == "page" && requestHost.rfind(host, 0) == 0) counts[target] += std::stoi(count);
        }
        return counts;
    }

    // The rows a shop's listing pages give, page by page (20 items a page, the stand-in's
    // default): titles as the page writes them, prices paired with items by order.
    std::vector<vq::ProductEntry> expected_rows(int shopNumber, const std::vector<int>& indexes) const {
        const auto& catalogue = sim.catalogue();
        const vq::sim::Shop& shop = *catalogue.shop(shopNumber);
        const bool mall = shop.layout == vq::sim::ShopTemplate::NewTmall;
        const std::string port = std::to_string(sim.port());
        std::vector<vq::ProductEntry> rows;
        for (std::size_t first = 0; first < indexes.size(); first += 20) {
            // The mall layout opens every page with a promotion item that has a price but
            // gives no row.
            std::vector<const vq::sim::Product*> items;
            std::vector<std::string> prices;
            if (mall) {
                items.push_back(nullptr);
                prices.push_back(shop.promoPrice);
            }
            for (std::size_t i = first; i < indexes.size() && i < first + 20; ++i) {
                const auto& p = catalogue.products()[static_cast<std::size_t>(indexes[i])];
                items.push_back(&p);
                if (p.listedPrice) prices.push_back(p.price);
            }
            for (std::size_t k = 0; k < items.size(); ++k) {
                if (!items[k]) continue;
                const vq::sim::Product& p = *items[k];
                vq::ProductEntry row;
                row.title = vq::utf8_to_gbk(vq::sim::html_escape(p.title));
                row.offerId = p.offerId;
                row.address = shop.layout == vq::sim::ShopTemplate::Plain
                                  ? "http://detail.localhost:" + port + "/offer/" + p.offerId + ".html"
                                  : "http://item.localhost:" + port + "/item.htm?id=" + p.offerId;
                if (k < prices.size()) row.price = prices[k];
                rows.push_back(std::move(row));
            }
        }
        return rows;
    }

    std::unique_ptr<vq::ListingReaders> readers;
};

std::vector<vq::ProductEntry> sorted_by_id(std::vector<vq::ProductEntry> rows) {
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return a.offerId < b.offerId;
    });
    return rows;
}

void expect_same_rows(const std::vector<vq::ProductEntry>& actual,
                      const std::vector<vq::ProductEntry>& expected) {
    vqtest::expect_rows(sorted_by_id(actual), sorted_by_id(expected));
}

// Shops 1 to 4 use the four layouts; 45 products make three pages, read by five readers.
TEST_F(ListingReaderTest, EveryLayoutGivesTheWholeShopAndEachPageIsFetchedOnce) {
    start();
    for (int shop = 1; shop <= 4; ++shop) {
        SCOPED_TRACE(shop);
        list.delete_all();
        sim.reset_stats();
        runtest::RecordingLog shopLog;
        vq::ListingReaders shopReaders({&list, &shopLog, nullptr, folder.path});
        ASSERT_EQ(vq::add_address_to_list(shop_address(shop), vq::AddressMode::Shop,
                                          {&list, &shopLog, nullptr, &shopReaders}),
                  vq::AddOutcome::JobStarted);
        shopReaders.wait();

        expect_same_rows(list.rows(), expected_rows(shop, sim.catalogue().shop(shop)->products));
        // The second layout's page 2 shows two items without a price: its last two items
        // are left without one.
        const auto rows = list.rows();
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const auto& r) { return r.price.empty(); }),
                  shop == 2 ? 2 : 0);
        const std::map<std::string, int> pages = {{"/page/offerlist.htm", 1},
                                                  {"/page/offerlist.htm?&pageNum=1", 1},
                                                  {"/page/offerlist.htm?&pageNum=2", 1},
                                                  {"/page/offerlist.htm?&pageNum=3", 1}};
        EXPECT_EQ(page_requests(shop), pages);

        EXPECT_EQ(shopLog.count_containing("  共搜索到：45 个商品\r\n"), 1);
        EXPECT_EQ(shopLog.count_containing("  宝贝页码从第 1 页到第  3  页下载，总页码数是 3 页！\r\n"), 1);
        EXPECT_EQ(shopLog.count_containing("  正在读取宝贝列表 第：  "), 3);
        EXPECT_EQ(shopLog.count_containing("  读取成功，成功提取了：  "), 3);
        // Each page says what it found, and the job says once what it added.
        EXPECT_EQ(shopLog.count_containing("  读取成功，成功提取了：  20  个宝贝\r\n"), 2);
        EXPECT_EQ(shopLog.count_containing("  读取成功，成功提取了：  5  个宝贝\r\n"), 1);
        EXPECT_EQ(shopLog.count_containing("  读取 3 页，失败 0 页，添加 45 个宝贝\r\n"), 1);
        EXPECT_EQ(shopLog.count_containing("宝贝下载完成"), 0);
    }
    // The last page read stays in the program folder.
    const auto kept = vq::read_file_bytes(folder.path + "/aa.txt");
    ASSERT_TRUE(kept.has_value());
    EXPECT_NE(kept->find("offer-list"), std::string::npos);
}

// Pages are read side by side, but a page's rows wait for the pages before it: the list
// has the shop's order however the answers come in.
TEST_F(ListingReaderTest, RowsGoInPageOrderWhateverPageAnswersFirst) {
    start();
    sim.hold_requests("page", "pageNum=1");
    ASSERT_EQ(add(shop_address(1), vq::AddressMode::Shop), vq::AddOutcome::JobStarted);
    ASSERT_TRUE(sim.wait_held(1));
    ASSERT_TRUE(wait_for([this] { return readers->report().pagesRead == 2; }));
    EXPECT_EQ(list.row_count(), 0);  // pages 2 and 3 wait for page 1
    sim.release_requests();
    readers->wait();
    vqtest::expect_rows(list.rows(), expected_rows(1, sim.catalogue().shop(1)->products));
}

// With a third of the requests failing, the retries still bring in the whole shop.
TEST_F(ListingReaderTest, AShopUnderFaultsIsReadWhole) {
    vq::sim::SimOptions options;
    options.faults.error = 0.3;
    options.productsPerShop = 40;
    options.seed = 9;
    start(options);
    ASSERT_EQ(add(shop_address(1), vq::AddressMode::Shop), vq::AddOutcome::JobStarted);
    readers->wait();
    vqtest::expect_rows(list.rows(), expected_rows(1, sim.catalogue().shop(1)->products));
    EXPECT_EQ(log.count_containing("  读取 2 页，失败 0 页，添加 40 个宝贝\r\n"), 1);
    // With this seed the count page fails once and page 1 three times before they answer.
    EXPECT_NE(sim.stats_text().find("\nfault-error 4\n"), std::string::npos) << sim.stats_text();
}

TEST_F(ListingReaderTest, ListsOfEveryKindReadTheirCategoryOnly) {
    start();
    const vq::sim::Category& category = sim.catalogue().shop(1)->categories[0];
    ASSERT_GT(category.products.size(), 20u);  // two pages
    const std::string shop = shop_address(1);
    const struct {
        std::string address;
        vq::ListKind kind;
    } cases[] = {
        {shop + "search.htm?search=y&scid=" + category.id + "&viewType=grid", vq::ListKind::Scid},
        {shop + "search.htm?search=y&catId=" + category.id + "&tab=2", vq::ListKind::Category},
        {shop + "page/category-" + category.id + ".htm", vq::ListKind::Category},
        {shop + "page/offerlist_" + category.id + ".htm", vq::ListKind::WholeAddress},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        list.delete_all();
        ASSERT_EQ(add(c.address, vq::AddressMode::List), vq::AddOutcome::JobStarted);
        readers->wait();
        EXPECT_EQ(readers->job().listKind, c.kind);
        EXPECT_EQ(readers->job().pageCount, 2);
        expect_same_rows(list.rows(), expected_rows(1, category.products));
    }
}

}  // namespace
