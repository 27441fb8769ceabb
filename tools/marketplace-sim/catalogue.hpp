#pragma once
// The stand-in marketplace's goods: key pairs, shops, categories and products, generated from
// a seed. Texts are UTF-8 here; the pages and answers convert them where they go out. Host
// names and ports are not part of the catalogue, so one catalogue serves any port.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vq::sim {

// Listing page layouts, in the order a reader tries them.
enum class ShopTemplate { Plain, Wangpu, ShopStreet, NewTmall };

// "普通", "旺铺", "店铺街", "新天猫".
std::string_view template_name(ShopTemplate t);

struct KeyPair {
    std::string appkey;
    std::string appsecret;
};

enum class PictureHost { Plain, Taobao };  // img.localhost, img.taobaocdn.localhost

// "img" or "img.taobaocdn".
std::string_view picture_host_name(PictureHost h);

struct PictureRef {
    PictureHost host = PictureHost::Plain;
    std::string path;       // UTF-8, from "/"; may hold Chinese characters
    std::string htmlQuery;  // as written in a page, "&" already "&amp;"; empty for most
    bool exists = true;     // false: the host answers 404 (with a page) for it
    bool empty = false;     // true: the host answers 200 with no bytes
};

struct Feature {
    std::string fid, name, value;
};

struct PriceRange {
    std::string range, price;
};

// A one-level SKU uses its own fields; a two-level one has children and only fid and value.
struct SkuItem {
    std::string fid, value, specId, price, retailPrice, canBookCount, saleCount;
    std::vector<SkuItem> children;
};

struct SkuPicture {
    std::string name;  // the SKU value it shows, e.g. a colour
    PictureRef picture;
};

enum class SkuKind { None, OneLevel, TwoLevel };

struct Product {
    int shop = 0;   // 1-based shop number
    int index = 0;  // 0-based position in its shop
    std::string offerId;
    std::string title;            // as the seller typed it (may hold "&", "*", "|")
    std::string price;            // the price shown on listing pages
    bool listedPrice = true;      // false: "面议" on listing pages, without price markup
    bool spacedTitleTag = false;  // its product page writes "<title >"
    int category = 0;             // index into its shop's categories
    std::string unit, amount, amountOnSale, productUnitWeight, retailPrice, postCategryId,
        sendGoodsId, freightTemplateId, termOfferProcess, memberId, saledCount, slogan;
    std::vector<Feature> features;
    std::vector<PriceRange> priceRanges;
    SkuKind skuKind = SkuKind::None;
    std::vector<SkuItem> skus;
    std::vector<SkuPicture> skuPictures;
    std::vector<PictureRef> mainPictures;
    std::vector<PictureRef> descriptionImages;       // IMG tags in page order; a repeat counts
    std::vector<PictureRef> descriptionBackgrounds;  // background attributes in page order
    // Taken down by the supplier: offer.get no longer finds it, today's methods answer a
    // status other than published.
    bool takenDown = false;

    int description_picture_count() const {
        return static_cast<int>(descriptionImages.size() + descriptionBackgrounds.size());
    }
    int missing_description_pictures() const;
};

struct Category {
    std::string id;
    std::string name;
    std::vector<int> products;  // indexes into Catalogue::products()
};

struct Shop {
    int number = 0;
    ShopTemplate layout = ShopTemplate::Plain;
    std::string name;
    bool upperCaseCountMarker = false;  // writes OFFER-COUNT">
    bool altPageCount = false;          // page count as <b class="ui-page-s-len">
    std::vector<int> products;          // indexes into Catalogue::products(), in shop order
    std::vector<Category> categories;
    std::string promoId, promoTitle, promoPrice;  // NewTmall only: one extra item per page
};

struct CatalogueOptions {
    std::uint64_t seed = 1;
    int shops = 4;
    int productsPerShop = 45;
    int keys = 2;
    // Benchmarks: every product gets exactly this many main pictures / description IMG
    // pictures (all present, no repeats, no background pictures). 0 keeps the varied mix.
    int mainPictures = 0;
    int descriptionPictures = 0;
    int itemsPerPage = 20;  // on every listing page; below 1 counts as 1
    // Values as sellers really type them, on every product: quotes, commas, tabs,
    // backslashes and "|*|" in titles, attributes, sizes and descriptions; titles too long
    // for a file name; picture addresses that start others or differ only in case; main
    // pictures that answer 404 or nothing.
    bool hostile = false;
    // Every listing page with items claims this many pages (0: the true count), as a
    // broken or hostile shop does; pages past the real ones list nothing.
    int claimedPages = 0;
    // With fixed description pictures: this many of each product's pictures (its last ones)
    // come from a small pool of the shop's own, as size charts and shipping notes do.
    int sharedDescriptionPictures = 0;
    // Every product's first main picture is its shop's one picture, as a shop banner is.
    bool sharedMainPicture = false;
    // Values only today's product model can carry, so that offer.get and the JSON methods
    // describe a product alike: the supply total is the amount on sale, and SKUs carry no
    // sale count ("0").
    bool currentModelValues = false;
};

class Catalogue {
public:
    static Catalogue generate(const CatalogueOptions& options);

    const std::vector<KeyPair>& keys() const { return keys_; }
    const std::vector<Shop>& shops() const { return shops_; }
    const std::vector<Product>& products() const { return products_; }
    int items_per_page() const { return itemsPerPage_; }

    // Listing pages needed for a number of listed items.
    int pages_for(int items) const { return (items + itemsPerPage_ - 1) / itemsPerPage_; }
    // The page count a listing page of `items` items shows.
    int claimed_pages_for(int items) const {
        return claimedPages_ > 0 && items > 0 ? claimedPages_ : pages_for(items);
    }

    // Shop number n (1-based), or nullptr.
    const Shop* shop(int n) const;
    const Product* find_offer(std::string_view offerId) const;
    // For a supplier's changes between two runs (see MarketplaceSim::change_offer).
    Product* edit_offer(std::string_view offerId);
    const KeyPair* find_key(std::string_view appkey) const;
    const Category* find_category(const Shop& shop, std::string_view id) const;

    // The plain-text listing served at "/__catalog" (UTF-8, tab-separated).
    std::string describe(int port) const;

private:
    std::uint64_t seed_ = 0;
    int itemsPerPage_ = 20;
    int claimedPages_ = 0;
    std::vector<KeyPair> keys_;
    std::vector<Shop> shops_;
    std::vector<Product> products_;
    std::unordered_map<std::string, std::size_t> offerIndex_;  // offer id -> products_ index
};

}  // namespace vq::sim
