#include "marketplace-sim/shop_pages.hpp"

#include <algorithm>
#include <cstdio>

#include "marketplace-sim/prng.hpp"
#include "support/encoding.hpp"

namespace vq::sim {
namespace {

std::string page_head(std::string_view title, std::string_view bodyClass) {
    std::string out =
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
        "<html xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\n<title>";
    out += title;
    out += "</title>\n</head>\n<body class=\"";
    out += bodyClass;
    out += "\">\n";
    return out;
}

std::string_view layout_class(ShopTemplate t) {
    switch (t) {
        case ShopTemplate::Plain:
            return "layout-plain";
        case ShopTemplate::Wangpu:
            return "layout-wangpu";
        case ShopTemplate::ShopStreet:
            return "layout-shopstreet";
        case ShopTemplate::NewTmall:
            return "layout-newtmall";
    }
    return {};
}

std::string item_address(std::string_view id, int port) {
    return site_address("item", port) + "/item.htm?id=" + std::string(id);
}

std::string first_picture(const Product& p, int port) {
    return p.mainPictures.empty() ? std::string() : picture_address(p.mainPictures.front(), port);
}

// One item in the shop's layout. The markup between the groups of the reader's patterns is
// fixed to the byte; the rest is decoration.
std::string render_item(const Product& p, ShopTemplate layout, int port) {
    const std::string title = html_escape(p.title);
    const std::string picture = first_picture(p, port);
    const std::string negotiable = "<span class=\"negotiable\">面议</span>";
    std::string out;
    switch (layout) {
        case ShopTemplate::Plain: {
            const std::string link = site_address("detail", port) + "/offer/" + p.offerId + ".html";
            out += "<li class=\"offer-item\">\n<div class=\"image\">\n\t<a href=\"" + link +
                   "\" title=\"" + title + "\" target=\"_blank\">\n\t\t<img src=\"" + picture +
                   "\" alt=\"" + title + "\" />\n\t</a>\n</div>\n";
            out += "<div class=\"title\"><a href=\"" + link + "\" target=\"_blank\">" + title +
                   "</a></div>\n<div class=\"price\">";
            out += p.listedPrice
                       ? "<span class=\"rmb\">&yen;</span>\n        \t<em>" + p.price + "</em>\n"
                       : negotiable;
            out += "</div>\n</li>\n";
            break;
        }
        case ShopTemplate::Wangpu: {
            const std::string link = item_address(p.offerId, port);
            out += "<li class=\"offer-item\">\n<div class=\"photo\"><a href=\"" + link +
                   "\" target=\"_blank\"><img src=\"" + picture + "\" alt=\"\" /></a></div>\n";
            out += "<div class=\"detail\"><a class=\"item-name\" href=\"" + link +
                   "\" target=\"_blank\">" + title + "</a></div>\n<div class=\"attributes\">";
            out += p.listedPrice ? "<span class=\"c-price\">" + p.price + "</span>" : negotiable;
            out += "</div>\n</li>\n";
            break;
        }
        case ShopTemplate::ShopStreet: {
            out += "<div class=\"item\">\n<a title=\"" + title + "\"  href=\"" +
                   item_address(p.offerId, port) + "\" target=\"_blank\"><img src=\"" + picture +
                   "\" alt=\"\" /></a>\n<p class=\"item-title\">" + title +
                   "</p>\n<p class=\"item-price\">";
            out += p.listedPrice ? "<strong>" + p.price + " 元</strong>" : negotiable;
            out += "</p>\n</div>\n";
            break;
        }
        case ShopTemplate::NewTmall: {
            char tracking[9];
            std::snprintf(tracking, sizeof tracking, "%08llx",
                          static_cast<unsigned long long>(hash_bytes(p.offerId) & 0xFFFFFFFFULL));
            out += "<dl class=\"item\">\n<dt class=\"photo\"><img src=\"" + picture +
                   "\" alt=\"\" /></dt>\n<dd class=\"detail\"><a class=\"item-name\" "
                   "data-spm=\"d" +
                   std::to_string(p.index + 1) + "\" href=\"" + item_address(p.offerId, port) +
                   "&amp;rn=" + tracking + "\" target=\"_blank\">" + title +
                   "</a></dd>\n<dd class=\"price\">";
            out += p.listedPrice ? "<span class=\"c-price\">" + p.price + "</span>" : negotiable;
            out += "</dd>\n</dl>\n";
            break;
        }
    }
    return out;
}

// The promotion slot of the mall layout: its link has no tracking parameter, so a reader
// that cuts the id at "&" finds no id in it.
std::string render_promo(const Shop& shop, int port) {
    return "<dl class=\"item promo\">\n<dd class=\"detail\"><a class=\"item-name\" "
           "data-spm=\"promo\" href=\"" +
           item_address(shop.promoId, port) + "\" target=\"_blank\">" +
           html_escape(shop.promoTitle) +
           "</a></dd>\n<dd class=\"price\"><span class=\"c-price\">" + shop.promoPrice +
           "</span></dd>\n</dl>\n";
}

}  // namespace

std::string site_address(std::string_view name, int port) {
    return "http://" + std::string(name) + ".localhost:" + std::to_string(port);
}

std::string picture_address(const PictureRef& picture, int port) {
    return site_address(picture_host_name(picture.host), port) + picture.path + picture.htmlQuery;
}

std::string html_escape(std::string_view text, bool quotes) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += quotes ? "&quot;" : "\"";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::string render_listing_page(const Catalogue& catalogue, const Shop& shop,
                                const ListingRequest& request, int port) {
    const std::string shopHome = site_address("shop" + std::to_string(shop.number), port);
    const int count = static_cast<int>(request.products.size());
    const int pages = catalogue.claimed_pages_for(count);

    std::string out =
        page_head(request.heading + " - " + shop.name + " - 阿里巴巴", layout_class(shop.layout));
    out += "<div id=\"header\">\n<div class=\"shop-name\">" + shop.name + "</div>\n";
    out += "<ul class=\"nav\">\n<li><a href=\"" + shopHome + "/\">首页</a></li>\n<li><a href=\"" +
           shopHome + "/page/offerlist.htm\">供应产品</a></li>\n";
    for (const Category& cat : shop.categories) {
        out += "<li><a href=\"" + shopHome + "/page/offerlist_" + cat.id + ".htm\">" + cat.name +
               "</a></li>\n";
    }
    out += "</ul>\n</div>\n<div id=\"content\">\n";

    if (request.kind == ListingKind::ShopOffers) {
        out += "<div class=\"offer-count-box\">共有 <em class=\"";
        out += shop.upperCaseCountMarker ? "OFFER-COUNT" : "offer-count";
        out += "\">" + std::to_string(count) + "</em>条供应信息</div>\n";
    } else {
        out += "<div class=\"search-result\">共搜索到<em>" + std::to_string(count) +
               "</span></em>个符合条件的产品</div>\n";
    }
    // A list without results has no page count at all.
    if (pages > 0) {
        if (shop.altPageCount) {
            out += "<div class=\"ui-page\"><span class=\"ui-page-s\">" +
                   std::to_string(request.page) + "/<b class=\"ui-page-s-len\">" +
                   std::to_string(pages) + "</b></span></div>\n";
        } else {
            out += "<div class=\"page-info\">共<em class=\"page-count\">" + std::to_string(pages) +
                   "</em>页</div>\n";
        }
    }

    // In 64 bits: a large page number times a large page size overflows an int.
    const long long perPage = catalogue.items_per_page();
    const int first = static_cast<int>(
        std::clamp((request.page - 1LL) * perPage, 0LL, static_cast<long long>(count)));
    const int last = static_cast<int>(std::min<long long>(count, request.page * perPage));
    // The first two layouts list their items as <li>.
    const bool asList = shop.layout == ShopTemplate::Plain || shop.layout == ShopTemplate::Wangpu;
    out += asList ? "<ul class=\"offer-list\">\n" : "<div class=\"offer-list\">\n";
    if (first < last && shop.layout == ShopTemplate::NewTmall && !shop.promoId.empty()) {
        out += render_promo(shop, port);
    }
    for (int i = first; i < last; ++i) {
        const Product& p = catalogue.products()[static_cast<std::size_t>(
            request.products[static_cast<std::size_t>(i)])];
        out += render_item(p, shop.layout, port);
    }
    out += asList ? "</ul>\n" : "</div>\n";

    if (pages > 1) {
        out += "<div class=\"pager\">";
        if (request.page > 1) {
            out += "<a class=\"prev\" href=\"" + request.pageLink +
                   std::to_string(request.page - 1) + "\">上一页</a>";
        }
        if (request.page < pages) {
            out += "<a class=\"next\" href=\"" + request.pageLink +
                   std::to_string(request.page + 1) + "\">下一页</a>";
        }
        out += "</div>\n";
    }
    out += "</div>\n<div id=\"footer\">版权所有 " + shop.name + "</div>\n</body>\n</html>\n";
    return utf8_to_gbk(out);
}

std::string render_product_page(const Product& product, const Shop& shop, int port) {
    const std::string title = html_escape(product.title);
    std::string out =
        "<!DOCTYPE html>\n<html>\n<head>\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\n";
    out += product.spacedTitleTag ? "<title >" : "<title>";
    out += title + " - 阿里巴巴</title>\n";
    out += "<script type=\"text/javascript\">\nvar iDetailConfig = {\n    refPrice:\"" +
           product.price + "\",\n    offer_id:\"" + product.offerId + "\",\n    member_id:\"" +
           product.memberId + "\",\n    unit:\"" + product.unit + "\"\n};\n</script>\n";
    out += "</head>\n<body>\n<div class=\"mod-detail-title\"><h1 class=\"d-title\">" + title +
           "</h1></div>\n<div class=\"mod-detail-price\">价格：<span class=\"value\">" +
           product.price + "</span> 元/" + product.unit + "</div>\n";
    out += "<div class=\"mod-detail-shop\">供应商：<a href=\"" +
           site_address("shop" + std::to_string(shop.number), port) + "/\">" + shop.name +
           "</a></div>\n</body>\n</html>\n";
    return utf8_to_gbk(out);
}

std::string render_missing_page() {
    return utf8_to_gbk(page_head("页面不存在 - 阿里巴巴", "error") +
                       "<p>您访问的页面不存在或已被删除。</p>\n</body>\n</html>\n");
}

std::string render_busy_page() {
    return utf8_to_gbk(page_head("系统繁忙 - 阿里巴巴", "error") +
                       "<p>系统繁忙，请稍后再试。</p>\n</body>\n</html>\n");
}

}  // namespace vq::sim
