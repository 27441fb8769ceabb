// The shop and product pages, read with the listing reader's own patterns and markers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "marketplace-sim/shop_pages.hpp"
#include "sim_test_support.hpp"
#include "support/encoding.hpp"
#include "support/gbk_literal.hpp"
#include "support/markers.hpp"
#include "support/regex_matcher.hpp"
#include "support/text.hpp"

using namespace vq;
using namespace vq::sim;
using simtest::RunningSim;

namespace {

struct Layout {
    const char* item;
    const char* price;
};

// The reader's item and price patterns, in the order it tries them.
const Layout kLayouts[] = {
    {"<div class=\"image\">\n\t<a href=\"(.*?)\" title=\"(.*?)\" target=\"_blank\">\n\t\t<",
     "\">&yen;</span>\n        \t<em>(.*?)</em>"},
    {"<a class=\"item-name\" href=\".*?id=(.*?)\" target=\"_blank\">(.*?)</a>",
     "<span class=\"c-price\">(.*?)</span>"},
    {"<a title=\"(.*?)\"  href=\".*?id=(.*?)\" target=\"_blank\">", "<strong>(.*?) 元</strong>"},
    {"<a class=\"item-name\" .*? href=\".*?id=(.*?)\" target=\"_blank\">(.*?)</a>",
     "<span class=\"c-price\">(.*?)</span>"},
};

struct Row {
    std::string id, title, price;  // title and price in UTF-8
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& r, std::ostream* os) {
    *os << "{" << r.id << ", " << r.title << ", " << r.price << "}";
}

struct Scan {
    int layout = -1;  // index into kLayouts, -1 when no pattern matched
    int items = 0, prices = 0;
    std::vector<Row> rows;
};

// What the listing reader makes of a GBK page: the first layout whose item pattern matches,
// ids and titles from its groups, prices paired by order.
Scan scan(const std::string& page) {
    Scan s;
    RegexMatcher items(RegexMatcher::Dialect::Perl);
    RegexMatcher prices(RegexMatcher::Dialect::Perl);
    for (int t = 0; t < 4; ++t) {
        EXPECT_TRUE(items.compile(utf8_to_gbk(kLayouts[t].item)));
        if (items.find_all(page) == 0) continue;
        EXPECT_TRUE(prices.compile(utf8_to_gbk(kLayouts[t].price)));
        s.layout = t;
        s.items = items.match_count();
        s.prices = prices.find_all(page);
        for (int i = 1; i <= s.items; ++i) {
            const std::string g1 = items.group_text(i, 1, page);
            const std::string g2 = items.group_text(i, 2, page);
            Row r;
            switch (t) {
                case 0:
                    r = {scrape_between(g1, "offer/", ".html"), g2, ""};
                    break;
                case 1:
                    r = {g1, g2, ""};
                    break;
                case 2:
                    r = {g2, g1, ""};
                    break;
                default:
                    r = {text_before(g1, "&"), g2, ""};
                    break;
            }
            if (r.id.empty()) continue;
            r.title = gbk_to_utf8(r.title);
            if (i <= s.prices) r.price = gbk_to_utf8(prices.group_text(i, 1, page));
            s.rows.push_back(r);
        }
        break;
    }
    return s;
}

// The rows a page of this list should give, with the reader's pairing of prices by order.
std::vector<Row> expected_rows(const Catalogue& c, const Shop& shop, const std::vector<int>& list,
                               int page) {
    struct Item {
        Row row;
        bool listed = true, promo = false;
    };
    std::vector<Item> items;
    const std::size_t perPage = static_cast<std::size_t>(c.items_per_page());
    const std::size_t first = static_cast<std::size_t>(page - 1) * perPage;
    const std::size_t last = std::min(list.size(), first + perPage);
    if (first < last && !shop.promoId.empty()) {
        items.push_back({{shop.promoId, shop.promoTitle, shop.promoPrice}, true, true});
    }
    for (std::size_t i = first; i < last; ++i) {
        const Product& p = c.products()[static_cast<std::size_t>(list[i])];
        items.push_back({{p.offerId, html_escape(p.title), p.price}, p.listedPrice, false});
    }
    std::vector<std::string> prices;
    for (const Item& item : items) {
        if (item.listed) prices.push_back(item.row.price);
    }
    std::vector<Row> rows;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].promo) continue;
        Row r = items[i].row;
        r.price = i < prices.size() ? prices[i] : "";
        rows.push_back(r);
    }
    return rows;
}

std::vector<std::string> ids_of(const std::vector<Row>& rows) {
    std::vector<std::string> ids;
    for (const Row& r : rows) ids.push_back(r.id);
    return ids;
}

std::string percent_encoded(std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += '%';
        out += hex[b >> 4];
        out += hex[b & 0x0F];
    }
    return out;
}

// The page count as the address classifier reads it.
std::string page_count_marker(const std::string& page) {
    std::string pages = scrape_between(page, "<em class=\"page-count\">", "</em>页"_gbk);
    if (pages.empty()) pages = scrape_between(page, "<b class=\"ui-page-s-len\">", "</b>");
    return pages;
}

TEST(Pages, EveryLayoutIsReadByItsOwnPatternsOnly) {
    struct Case {
        const char* what;
        SimOptions options;
        int pages;
    };
    SimOptions sevenAPage;
    sevenAPage.itemsPerPage = 7;
    // At 7 a page the two unpriced Wangpu items fall on different pages.
    for (const Case& k : {Case{"20 a page", {}, 3}, Case{"7 a page", sevenAPage, 7}}) {
        SCOPED_TRACE(k.what);
        RunningSim s(k.options);
        const Catalogue& c = s.sim.catalogue();
        ASSERT_EQ(c.shops().size(), 4u);
        for (const Shop& shop : c.shops()) {
            SCOPED_TRACE(std::string(template_name(shop.layout)));
            const int pages = c.pages_for(static_cast<int>(shop.products.size()));
            ASSERT_EQ(pages, k.pages);
            // One page past the end: counts and pager, but no items.
            for (int p = 1; p <= pages + 1; ++p) {
                SCOPED_TRACE("page " + std::to_string(p));
                const auto res = s.get("shop" + std::to_string(shop.number),
                                       "/page/offerlist.htm?&pageNum=" + std::to_string(p));
                ASSERT_TRUE(res);
                ASSERT_EQ(res->status, 200);
                EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk");
                EXPECT_EQ(page_count_marker(res->body), std::to_string(pages));
                const Scan sc = scan(res->body);
                EXPECT_EQ(sc.layout, p <= pages ? static_cast<int>(shop.layout) : -1);
                EXPECT_EQ(sc.rows, expected_rows(c, shop, shop.products, p));

                if (shop.layout == ShopTemplate::Wangpu && p == 2 && pages == 3) {
                    EXPECT_EQ(sc.items, 20);
                    EXPECT_EQ(sc.prices, 18);
                }
                if (shop.layout == ShopTemplate::NewTmall && p <= pages) {
                    // The promotion matches but yields no row.
                    EXPECT_EQ(sc.items, static_cast<int>(sc.rows.size()) + 1);
                    EXPECT_EQ(sc.prices, sc.items);
                }
            }
        }
    }
}

TEST(Pages, OfferListCarriesCountAndPageCount) {
    RunningSim s;
    for (const Shop& shop : s.sim.catalogue().shops()) {
        SCOPED_TRACE("shop " + std::to_string(shop.number));
        const auto res = s.get("shop" + std::to_string(shop.number), "/page/offerlist.htm");
        ASSERT_TRUE(res);
        const std::string& page = res->body;
        EXPECT_EQ(trim_blanks(scrape_between(page, "offer-count\">", "</em>条"_gbk)), "45");
        EXPECT_EQ(page_count_marker(page), "3");
        EXPECT_EQ(contains_text(page, "OFFER-COUNT"), shop.upperCaseCountMarker);
        EXPECT_EQ(contains_text(page, "page-count"), !shop.altPageCount);
    }
}

TEST(Pages, ListsCarryTheirCountAndOnlyTheirItems) {
    RunningSim s;
    const Catalogue& c = s.sim.catalogue();
    struct Case {
        std::string what;
        int shop;
        std::string target;
        std::vector<int> products;
        int page;
    };
    std::vector<Case> cases;
    for (int n : {1, 3}) {
        const Shop& shop = *c.shop(n);
        const std::vector<Category>& cats = shop.categories;
        const std::string tail = "&viewType=grid&orderType=_hotsell&pageNum=";
        std::vector<int> cups;
        for (int i : shop.products) {
            if (c.products()[static_cast<std::size_t>(i)].title.find("杯") != std::string::npos)
                cups.push_back(i);
        }
        ASSERT_FALSE(cups.empty());
        const std::string cup = percent_encoded("杯"_gbk);
        const std::vector<Case> more = {
            {"scid", n, "/search.htm?&search=y&scid=" + cats[0].id + tail + "2", cats[0].products,
             2},
            {"catId", n, "/search.htm?&search=y&catId=" + cats[1].id + tail + "1", cats[1].products,
             1},
            {"category-", n, "/page/category-" + cats[2].id + ".htm", cats[2].products, 1},
            {"offerlist_", n, "/page/offerlist_" + cats[0].id + ".htm", cats[0].products, 1},
            {"offerlist_ with the page glued on", n,
             "/page/offerlist_" + cats[0].id + ".htm&pageNum=2", cats[0].products, 2},
            {"keywords", n, "/search.htm?keywords=" + cup + "&pageNum=1", cups, 1},
            {"keywords without results", n, "/search.htm?keywords=zzz&pageNum=1", {}, 1},
            {"unknown category", n, "/search.htm?&search=y&scid=1" + tail + "1", {}, 1},
        };
        cases.insert(cases.end(), more.begin(), more.end());
    }
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what + " on shop " + std::to_string(k.shop));
        const auto res = s.get("shop" + std::to_string(k.shop), k.target);
        ASSERT_TRUE(res);
        const std::string& page = res->body;
        const int count = static_cast<int>(k.products.size());
        EXPECT_EQ(scrape_between(page, "共搜索到<em>"_gbk, "</span></em>个符合条件的产品"_gbk),
                  std::to_string(count));
        EXPECT_EQ(scrape_between(page, "offer-count\">", "</em>条"_gbk), "");
        EXPECT_EQ(page_count_marker(page), count > 0 ? std::to_string(c.pages_for(count)) : "");
        EXPECT_EQ(ids_of(scan(page).rows),
                  ids_of(expected_rows(c, *c.shop(k.shop), k.products, k.page)));
    }
}

TEST(Pages, ProductPagesCarryOfferIdAndTitle) {
    RunningSim s;
    const Catalogue& c = s.sim.catalogue();
    // One of each kind of title: plain, "&" in it, written "<title >".
    std::vector<const Product*> products = {&c.products()[0], &c.products()[2], &c.products()[5]};
    ASSERT_NE(products[1]->title.find('&'), std::string::npos);
    ASSERT_TRUE(products[2]->spacedTitleTag);
    for (const Product* p : products) {
        for (const auto& [host, target] : std::vector<std::pair<std::string, std::string>>{
                 {"detail", "/offer/" + p->offerId + ".html"},
                 {"detail.tmall", "/offer/" + p->offerId + ".html"},
                 {"item", "/item.htm?id=" + p->offerId}}) {
            SCOPED_TRACE(host + target);
            const auto res = s.get(host, target);
            ASSERT_TRUE(res);
            const std::string& page = res->body;
            EXPECT_EQ(scrape_between(page, "offer_id:\"", "\","), p->offerId);
            std::string title = scrape_between(page, "<title>", "</title>");
            if (title.empty()) title = scrape_between(page, "<title >", "</title>");
            EXPECT_EQ(gbk_to_utf8(title), html_escape(p->title) + " - 阿里巴巴");
            EXPECT_EQ(contains_text(page, "<title >"), p->spacedTitleTag);
        }
    }
    const auto missing = s.get("detail", "/offer/123.html");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(scrape_between(missing->body, "offer_id:\"", "\","), "");
}

}  // namespace
