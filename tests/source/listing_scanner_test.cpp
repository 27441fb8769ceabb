#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "product_rows.hpp"
#include "source/address_classification.hpp"
#include "source/listing_reader.hpp"
#include "support/encoding.hpp"

namespace {

using vq::ListingPage;
using vq::ListingScanner;
using vq::ProductEntry;

std::string gbk(std::string_view utf8) { return vq::utf8_to_gbk(utf8); }

// Markup of one item per layout, as the shops write it.
std::string plain_item(const std::string& link, const std::string& title) {
    return "<li><div class=\"image\">\n\t<a href=\"" + link + "\" title=\"" + title +
           "\" target=\"_blank\">\n\t\t<img src=\"x.jpg\"/></a></div>\n";
}
std::string plain_price(const std::string& price) {
    return "<span class=\"rmb\">&yen;</span>\n        \t<em>" + price + "</em></li>\n";
}
std::string wangpu_item(const std::string& id, const std::string& title) {
    return "<a class=\"item-name\" href=\"http://i/item.htm?id=" + id + "\" target=\"_blank\">" +
           title + "</a>\n";
}
std::string c_price(const std::string& price) {
    return "<span class=\"c-price\">" + price + "</span>\n";
}

void expect_rows(const ListingPage& page, const std::vector<ProductEntry>& rows) {
    vqtest::expect_rows(page.rows, rows);
}

TEST(ListingScanner, PlainLayoutKeepsTheLinkAndCutsTheIdFromIt) {
    const std::string link = "http://detail.x/offer/12345.html";
    const std::string page = "<ul>" + plain_item(link, gbk("女式围巾")) + plain_price("1.50") +
                             plain_item("http://detail.x/item/9.htm", "no id") + plain_price("2") +
                             "</ul>";
    ListingScanner scanner;
    const ListingPage found = scanner.scan(page, "item.x");
    EXPECT_EQ(found.templateName, gbk("普通"));
    EXPECT_EQ(found.itemMatches, 2);
    expect_rows(found, {{gbk("女式围巾"), "1.50", link, "12345"}});
}

TEST(ListingScanner, ItemsAndPricesPairByOrderAndMissingPricesStayEmpty) {
    std::string page;
    for (int i = 1; i <= 3; ++i) page += wangpu_item(std::to_string(i), "T" + std::to_string(i));
    page += c_price("10") + c_price("20");
    ListingScanner scanner;
    const ListingPage found = scanner.scan(page, "item.x:81");
    EXPECT_EQ(found.templateName, gbk("旺铺"));
    expect_rows(found, {{"T1", "10", "http://item.x:81/item.htm?id=1", "1"},
                        {"T2", "20", "http://item.x:81/item.htm?id=2", "2"},
                        {"T3", "", "http://item.x:81/item.htm?id=3", "3"}});
}

TEST(ListingScanner, ShopStreetTakesTheTitleAttributeAndTheIdFromTheLink) {
    const std::string page =
        "<a title=\"" + gbk("保温杯") +
        "\"  href=\"http://i/item.htm?id=55\" target=\"_blank\"><img/></a><strong>8.80 " +
        gbk("元") + "</strong>";
    ListingScanner scanner;
    const ListingPage found = scanner.scan(page, "i");
    EXPECT_EQ(found.templateName, gbk("店铺街"));
    expect_rows(found, {{gbk("保温杯"), "8.80", "http://i/item.htm?id=55", "55"}});
}

TEST(ListingScanner, NewTmallIdEndsAtTheNextParameterAndWithoutOneThereIsNoRow) {
    // The promotion item comes first and has no parameter after its id; its price still
    // takes the first place in the price order.
    const std::string page =
        "<a class=\"item-name\" data-spm=\"promo\" href=\"http://i/item.htm?id=900\" "
        "target=\"_blank\">promo</a>" +
        c_price("9.90") +
        "<a class=\"item-name\" data-spm=\"d1\" href=\"http://i/item.htm?id=12345&amp;rn=ab\" "
        "target=\"_blank\">T</a>" +
        c_price("3.00");
    ListingScanner scanner;
    const ListingPage found = scanner.scan(page, "i");
    EXPECT_EQ(found.templateName, gbk("新天猫"));
    EXPECT_EQ(found.itemMatches, 2);
    expect_rows(found, {{"T", "3.00", "http://i/item.htm?id=12345", "12345"}});
}

// An id goes unencoded into the signed gateway request: one that is not digits is left
// out and handed back for the log, and the prices still pair by page order.
TEST(ListingScanner, IdsThatAreNotDigitsAreLeftOutAndNamed) {
    const std::string page = wangpu_item("1&_aop_signature=FORGED&x", "a") + wangpu_item("7#x", "b") +
                             wangpu_item("88", "c") + c_price("1") + c_price("2") + c_price("3");
    ListingScanner scanner;
    const ListingPage found = scanner.scan(page, "i");
    expect_rows(found, {{"c", "3", "http://i/item.htm?id=88", "88"}});
    EXPECT_EQ(found.refusedIds, (std::vector<std::string>{"1&_aop_signature=FORGED&x", "7#x"}));
}

TEST(ListingScanner, LayoutsAreTriedInOrderIgnoringCase) {
    ListingScanner scanner;
    // Capital letters in the markup still match.
    const std::string upper = "<DIV CLASS=\"IMAGE\">\n\t<A HREF=\"http://d/offer/7.html\" "
                              "TITLE=\"t\" TARGET=\"_BLANK\">\n\t\t<IMG>";
    EXPECT_EQ(scanner.scan(upper, "i").templateName, gbk("普通"));
    // A page holding both the second and the third layout's items is read as the second.
    const std::string both =
        wangpu_item("1", "a") + "<a title=\"b\"  href=\"http://i/item.htm?id=2\" target=\"_blank\">";
    const ListingPage found = scanner.scan(both, "i");
    EXPECT_EQ(found.templateName, gbk("旺铺"));
    ASSERT_EQ(found.rows.size(), 1u);
    // No layout: no rows, and the same scanner goes on working afterwards.
    const ListingPage none = scanner.scan("<html><body>nothing</body></html>", "i");
    EXPECT_TRUE(none.templateName.empty());
    EXPECT_TRUE(none.rows.empty());
    EXPECT_EQ(scanner.scan(upper, "i").rows.size(), 1u);
}

TEST(ListingPageAddress, FormsByModeAndListKind) {
    vq::ListingJob shop;
    shop.addressMode = vq::AddressMode::Shop;
    shop.shopHost = "s.x:8";
    EXPECT_EQ(vq::listing_page_address(shop, 3), "http://s.x:8/page/offerlist.htm?&pageNum=3");

    vq::ListingJob list;
    list.addressMode = vq::AddressMode::List;
    list.shopHost = "s.x";
    list.listKey = "77";
    list.listKind = vq::ListKind::Scid;
    EXPECT_EQ(vq::listing_page_address(list, 2),
              "http://s.x/search.htm?&search=y&scid=77&viewType=grid&orderType=_hotsell&pageNum=2");
    list.listKind = vq::ListKind::Category;
    EXPECT_EQ(vq::listing_page_address(list, 2),
              "http://s.x/search.htm?&search=y&catId=77&viewType=grid&orderType=_hotsell&pageNum=2");
    list.listKind = vq::ListKind::WholeAddress;
    list.listKey = "http://s.x/page/offerlist_77.htm";
    EXPECT_EQ(vq::listing_page_address(list, 10), "http://s.x/page/offerlist_77.htm&pageNum=10");
    list.listKind = vq::ListKind::None;
    EXPECT_EQ(vq::listing_page_address(list, 1), "");
}

TEST(PageCount, LeadingNumberWithFullWidthForms) {
    struct Case {
        const char* text;  // UTF-8
        double value;
        int integer;
    } cases[] = {
        {"12", 12, 12},         {"１２", 12, 12},      {" 3</b>", 3, 3},
        {"１.５页", 1.5, 1},    {"－２", -2, -2},      {"+4", 4, 4},
        {"", 0, 0},             {"abc", 0, 0},         {"0.00000001", 0.00000001, 0},
        {"99999999999", 99999999999.0, 2147483647},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(vq::page_count_value(gbk(c.text)), c.value);
        EXPECT_EQ(vq::page_count_integer(gbk(c.text)), c.integer);
    }
}

}  // namespace
