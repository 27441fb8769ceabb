#pragma once
// The GBK web pages of the stand-in shops: listing pages in the four layouts, product pages
// and the odd error page. Item and price markup follow the patterns the program scans with,
// byte for byte; everything around them is ordinary shop page furniture.

#include <string>
#include <vector>

#include "marketplace-sim/catalogue.hpp"

namespace vq::sim {

// A shop's own offer list carries the "offer-count" marker; category and search lists carry
// "共搜索到<em>N</span></em>个符合条件的产品" instead.
enum class ListingKind { ShopOffers, List };

struct ListingRequest {
    ListingKind kind = ListingKind::ShopOffers;
    std::vector<int> products;  // catalogue indexes, in list order
    int page = 1;               // 1-based; a page past the end shows no items
    std::string pageLink;       // address that page numbers are appended to, for the pager
    std::string heading;        // UTF-8
};

// "http://<name>.localhost:<port>".
std::string site_address(std::string_view name, int port);

// The address a page shows for a picture (UTF-8).
std::string picture_address(const PictureRef& picture, int port);

std::string render_listing_page(const Catalogue& catalogue, const Shop& shop,
                                const ListingRequest& request, int port);

std::string render_product_page(const Product& product, const Shop& shop, int port);

// "页面不存在" and "系统繁忙" pages.
std::string render_missing_page();
std::string render_busy_page();

// &, <, > and (unless quotes is false) " as entities.
std::string html_escape(std::string_view text, bool quotes = true);

}  // namespace vq::sim
