#include "marketplace-sim/catalogue.hpp"

#include <algorithm>
#include <set>

#include "marketplace-sim/prng.hpp"

namespace vq::sim {
namespace {

const char* const kShopPlaces[] = {"华美", "金达", "鑫源", "恒通", "佳和", "永盛", "宏达", "新锐"};
const char* const kShopKinds[] = {"日用品商行", "服饰有限公司", "工艺品厂", "贸易有限公司"};
const char* const kCategoryNames[] = {"新品上架", "热销推荐", "清仓特价", "夏季专区",
                                      "家居日用", "服装鞋包", "礼品定制"};

const char* const kPrefixes[] = {"2014新款", "夏季", "秋冬新品", "厂家直销", "热卖",
                                 "韩版",     "日系", "欧美风",   "爆款",     "外贸原单"};
const char* const kMaterials[] = {"纯棉",   "不锈钢", "陶瓷", "真皮", "亚麻",
                                  "竹纤维", "硅胶",   "玻璃", "实木", "羊毛"};
const char* const kItems[] = {"T恤",    "保温杯", "马克杯", "手提包", "围巾", "拖鞋",
                              "收纳盒", "台灯",   "雨伞",   "笔记本", "抱枕", "帆布鞋"};
const char* const kSuffixes[] = {"批发", "一件代发", "包邮", "特价", "量大从优", "现货"};
const char* const kUnits[] = {"件", "个", "只", "双", "套", "条"};
const char* const kSlogans[] = {"品质保证", "厂家直供", "支持混批", "七天包退", "诚信经营"};
const char* const kColours[] = {"红色", "蓝色", "黑色", "白色", "灰色", "粉色"};
const char* const kSizes[] = {"S", "M", "L", "XL", "XXL"};

struct FeatureKind {
    const char* fid;
    const char* name;
    const char* values[3];
};
const FeatureKind kFeatures[] = {
    {"287", "材质", {"棉", "涤纶", "混纺"}},
    {"2176", "品牌", {"其他", "自有品牌", "OEM"}},
    {"446", "颜色", {"多色可选", "如图", "混色"}},
    {"100000729", "风格", {"简约", "复古", "时尚"}},
    {"973", "产地", {"浙江义乌", "广东广州", "福建泉州"}},
    {"1398", "货号", {"A1008", "B2316", "K8801"}},
};

const char* const kColourFid = "3216";
const char* const kSizeFid = "450";

std::string cents_text(long long cents) {
    std::string text = std::to_string(cents / 100) + ".";
    const long long rest = cents % 100;
    if (rest < 10) text += '0';
    return text + std::to_string(rest);
}

std::string hex_digits(SplitMix64& r, int n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < n; ++i) out += digits[r.below(16)];
    return out;
}

std::string alphanumerics(SplitMix64& r, int n) {
    static const char chars[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string out;
    for (int i = 0; i < n; ++i) out += chars[r.below(sizeof(chars) - 1)];
    return out;
}

std::uint64_t stream_seed(std::uint64_t seed, std::string_view what, int a, int b = 0) {
    return hash_bytes(what, seed ^ mix64(static_cast<std::uint64_t>(a) * 1000003ULL +
                                         static_cast<std::uint64_t>(b)));
}

SkuItem sku_entry(SplitMix64& r, const char* fid, std::string value, long long base) {
    SkuItem s;
    s.fid = fid;
    s.value = std::move(value);
    s.specId = hex_digits(r, 32);
    const long long price = base + static_cast<long long>(r.below(5)) * 50;
    s.price = cents_text(price);
    s.retailPrice = cents_text(price * 13 / 10);
    s.canBookCount = std::to_string(r.below(2000));
    s.saleCount = std::to_string(r.below(500));
    return s;
}

Product make_product(const CatalogueOptions& options, int shop, int index, ShopTemplate layout,
                     std::set<std::string>& ids) {
    const std::uint64_t seed = options.seed;
    SplitMix64 r(stream_seed(seed, "product", shop, index));
    Product p;
    p.shop = shop;
    p.index = index;
    do {
        p.offerId = std::to_string(500000000000ULL + r.below(99999999999ULL));
    } while (!ids.insert(p.offerId).second);

    // One draw per statement: the order of operands of "+" is unspecified.
    std::string head = r.pick(kPrefixes);
    head += r.pick(kMaterials);
    head += r.pick(kItems);
    const std::string tail = r.pick(kSuffixes);
    // Some titles carry characters the program has to clean out of them.
    switch (index % 6) {
        case 2:
            p.title = head + "&礼盒装" + tail;
            break;
        case 4:
            p.title = head + "*2个装" + tail;
            break;
        case 5:
            p.title = head + "|" + tail;
            break;
        default:
            p.title = head + tail;
            break;
    }
    p.unit = r.pick(kUnits);
    p.slogan = r.pick(kSlogans);

    const long long base = 300 + static_cast<long long>(r.below(19700));
    p.retailPrice = cents_text(base * 13 / 10);
    if (index % 11 != 6) {
        const int ranges = r.between(1, 3);
        const int s1 = r.between(1, 3);
        const int s2 = r.pick({10, 20, 50});
        const int s3 = r.pick({100, 200, 500});
        if (ranges == 1) {
            p.priceRanges.push_back({"≥" + std::to_string(s1), cents_text(base)});
        } else {
            p.priceRanges.push_back(
                {std::to_string(s1) + "-" + std::to_string(s2 - 1), cents_text(base)});
            if (ranges == 2) {
                p.priceRanges.push_back({"≥" + std::to_string(s2), cents_text(base * 9 / 10)});
            } else {
                p.priceRanges.push_back(
                    {std::to_string(s2) + "-" + std::to_string(s3 - 1), cents_text(base * 9 / 10)});
                p.priceRanges.push_back({"≥" + std::to_string(s3), cents_text(base * 8 / 10)});
            }
        }
    }
    p.price = p.priceRanges.empty() ? p.retailPrice : p.priceRanges.front().price;
    p.listedPrice = !(layout == ShopTemplate::Wangpu && (index == 23 || index == 30));
    p.spacedTitleTag = index % 7 == 5;

    p.amount = std::to_string(1000 + r.below(9000));
    p.amountOnSale = std::to_string(100 + r.below(5000));
    p.productUnitWeight = cents_text(10 + static_cast<long long>(r.below(300)));
    p.postCategryId = std::to_string(1031000 + r.below(9000));
    p.sendGoodsId = std::to_string(1 + r.below(3));
    p.freightTemplateId = std::to_string(3000000 + r.below(999999));
    p.termOfferProcess = std::to_string(r.below(2));
    p.memberId = "b2b-" + std::to_string(1000000000ULL + r.below(8999999999ULL));
    p.saledCount = std::to_string(r.below(3000));

    const int featureCount = r.between(3, 5);
    const std::size_t firstFeature = r.below(std::size(kFeatures));
    for (int k = 0; k < featureCount; ++k) {
        const FeatureKind& f = kFeatures[(firstFeature + k) % std::size(kFeatures)];
        p.features.push_back({f.fid, f.name, f.values[r.below(3)]});
    }

    // SKUs: none, one level (colours or sizes) or colours with sizes under them.
    const std::size_t firstColour = r.below(std::size(kColours));
    const int colourCount = r.between(2, 4);
    const int sizeCount = r.between(2, 3);
    const std::size_t firstSize = r.below(std::size(kSizes) - 2);
    std::vector<std::string> colours;
    for (int k = 0; k < colourCount; ++k)
        colours.push_back(kColours[(firstColour + k) % std::size(kColours)]);
    bool colourSkus = false;
    switch (index % 5) {
        case 0:
            p.skuKind = SkuKind::None;
            break;
        case 1:
            p.skuKind = SkuKind::OneLevel;
            colourSkus = true;
            for (const std::string& c : colours)
                p.skus.push_back(sku_entry(r, kColourFid, c, base));
            break;
        case 2:
            p.skuKind = SkuKind::OneLevel;
            for (int k = 0; k < sizeCount; ++k)
                p.skus.push_back(sku_entry(r, kSizeFid, kSizes[firstSize + k], base));
            break;
        default:
            p.skuKind = SkuKind::TwoLevel;
            colourSkus = true;
            for (const std::string& c : colours) {
                SkuItem parent;
                parent.fid = kColourFid;
                parent.value = c;
                for (int k = 0; k < sizeCount; ++k)
                    parent.children.push_back(sku_entry(r, kSizeFid, kSizes[firstSize + k], base));
                p.skus.push_back(std::move(parent));
            }
            // Sellers leave a child price blank now and then.
            if (index % 4 == 3) p.skus[1].children[0].price.clear();
            break;
    }
    if (colourSkus && index % 7 != 0) {
        for (std::size_t k = 0; k < colours.size(); ++k) {
            p.skuPictures.push_back(
                {colours[k],
                 {k % 2 ? PictureHost::Taobao : PictureHost::Plain,
                  "/sku/" + p.offerId + "_" + std::to_string(k + 1) + ".jpg", "", true}});
        }
    }

    const int variedMain = r.between(3, 5);
    const int mainCount = options.mainPictures > 0 ? options.mainPictures : variedMain;
    for (int k = 1; k <= mainCount; ++k) {
        const char* ext = (index % 7 == 3 && k == 2) ? "png" : "jpg";
        p.mainPictures.push_back({k % 2 ? PictureHost::Plain : PictureHost::Taobao,
                                  "/main/" + p.offerId + "_" + std::to_string(k) + "." + ext, "",
                                  true});
    }
    if (options.sharedMainPicture) {
        p.mainPictures.front() = {PictureHost::Plain,
                                  "/main/shop" + std::to_string(shop) + "_shared.jpg", "", true};
    }

    static const char* const kExts[] = {"jpg", "png", "gif", "bmp"};
    const int variedImages = r.between(2, 4);
    const bool fixedDescription = options.descriptionPictures > 0;
    const int imageCount = fixedDescription ? options.descriptionPictures : variedImages;
    // The shop's pool: a few pictures every product of the shop draws from.
    constexpr int kSharedPool = 4;
    const int shared = fixedDescription ? std::clamp(options.sharedDescriptionPictures, 0, imageCount) : 0;
    for (int k = 1; k <= imageCount; ++k) {
        PictureRef pic;
        pic.host = k % 2 ? PictureHost::Plain : PictureHost::Taobao;
        const std::string ext = kExts[(index + k) % 4];
        if (k > imageCount - shared) {
            const int j = (index + k) % kSharedPool;
            pic.path = "/desc/shop" + std::to_string(shop) + "_shared_" + std::to_string(j) + "." +
                       kExts[j % 4];
        } else if (index % 3 == 1 && k == 2) {
            pic.path = "/desc/" + p.offerId + "/详情图" + std::to_string(k) + "." + ext;
        } else {
            pic.path = "/desc/" + p.offerId + "_" + std::to_string(k) + "." + ext;
        }
        if (index % 4 == 2 && k == 1) pic.htmlQuery = "?spm=a261y.7663282&amp;ver=2";
        p.descriptionImages.push_back(std::move(pic));
    }
    if (fixedDescription) return p;
    if (index % 9 == 4) {
        p.descriptionImages.push_back(
            {PictureHost::Plain, "/desc/" + p.offerId + "_gone.jpg", "", false});
    }
    if (index % 10 == 7) p.descriptionImages.push_back(p.descriptionImages.front());
    const int backgroundCount = index % 3 == 0 ? 0 : index % 3;
    for (int k = 1; k <= backgroundCount; ++k) {
        p.descriptionBackgrounds.push_back(
            {k == 1 ? PictureHost::Plain : PictureHost::Taobao,
             "/bg/" + p.offerId + "_" + std::to_string(k) + (k == 1 ? ".gif" : ".png"), "", true});
    }
    return p;
}

// What the hostile option adds to a product; the variants go round with the index.
void make_hostile(Product& p) {
    static const char* const kValues[] = {"5\" 英寸", "A\\B", "x|*|y", "1,2\t3"};
    const std::size_t i = static_cast<std::size_t>(p.index);
    switch (i % 4) {
        case 0:
            p.title = "\"" + p.title + "\" 1,000件";
            break;
        case 1:
            for (int k = 0; k < 30; ++k) p.title += "超长标题";
            break;
        case 2:
            p.title += "\t含税 \\ 5\"寸";
            break;
        default:
            p.title = "*|" + p.title + "|*|**";  // cleaned to blanks
            break;
    }
    for (std::size_t k = 0; k < p.features.size(); ++k) p.features[k].value = kValues[(i + k) % 4];
    const auto odd_size = [](SkuItem& s) {
        if (s.fid == kSizeFid) s.value += "\"码,|*|";
    };
    for (SkuItem& s : p.skus) {
        odd_size(s);
        for (SkuItem& c : s.children) odd_size(c);
    }
    if (i % 2 == 0) p.amount = "1,000";
    // Raw HTML of the seller's: entities the seller typed must reach the package as typed.
    p.slogan = "特价|*|**包邮\"大促\"\\ &lt;b&gt;粗体&lt;/b&gt; A&amp;B &amp;amp;";
    // The first address starts the second; the third differs from the first only in case.
    for (const char* tail : {"_ov.jpg", "_ov.jpg_100x100.jpg", "_OV.jpg"}) {
        p.descriptionImages.push_back({PictureHost::Plain, "/desc/" + p.offerId + tail, "", true});
    }
    if (i % 3 == 0) {
        const auto at = p.mainPictures.begin() + 1;
        p.mainPictures.insert(at, {PictureHost::Plain, "/main/" + p.offerId + "_404.jpg", "", false});
        PictureRef nothing{PictureHost::Taobao, "/main/" + p.offerId + "_empty.jpg", "", true};
        nothing.empty = true;
        p.mainPictures.push_back(nothing);
    }
}

void current_model_values(Product& p) {
    p.amount = p.amountOnSale;
    for (SkuItem& s : p.skus) {
        s.saleCount = "0";
        for (SkuItem& c : s.children) c.saleCount = "0";
    }
}

}  // namespace

std::string_view template_name(ShopTemplate t) {
    switch (t) {
        case ShopTemplate::Plain:
            return "普通";
        case ShopTemplate::Wangpu:
            return "旺铺";
        case ShopTemplate::ShopStreet:
            return "店铺街";
        case ShopTemplate::NewTmall:
            return "新天猫";
    }
    return {};
}

std::string_view picture_host_name(PictureHost h) {
    return h == PictureHost::Taobao ? "img.taobaocdn" : "img";
}

int Product::missing_description_pictures() const {
    int n = 0;
    for (const PictureRef& p : descriptionImages) n += !p.exists;
    for (const PictureRef& p : descriptionBackgrounds) n += !p.exists;
    return n;
}

Catalogue Catalogue::generate(const CatalogueOptions& options) {
    Catalogue c;
    c.seed_ = options.seed;
    c.itemsPerPage_ = std::max(1, options.itemsPerPage);
    c.claimedPages_ = std::max(0, options.claimedPages);

    SplitMix64 keyStream(stream_seed(options.seed, "keys", 0));
    std::set<std::string> appkeys;
    for (int i = 0; i < options.keys; ++i) {
        KeyPair k;
        do {
            k.appkey = std::to_string(1000000 + keyStream.below(9000000));
        } while (!appkeys.insert(k.appkey).second);
        k.appsecret = alphanumerics(keyStream, 12);
        c.keys_.push_back(std::move(k));
    }

    std::set<std::string> ids;
    for (int n = 1; n <= options.shops; ++n) {
        SplitMix64 r(stream_seed(options.seed, "shop", n));
        Shop shop;
        shop.number = n;
        shop.layout = static_cast<ShopTemplate>((n - 1) % 4);
        shop.name = "义乌市";
        shop.name += r.pick(kShopPlaces);
        shop.name += r.pick(kShopKinds);
        shop.upperCaseCountMarker = n % 3 == 2;
        shop.altPageCount = shop.layout == ShopTemplate::ShopStreet;

        std::set<std::string> categoryIds;
        const std::size_t firstName = r.below(std::size(kCategoryNames));
        for (std::size_t k = 0; k < 3; ++k) {
            Category cat;
            do {
                cat.id = std::to_string(10000000 + r.below(89999999));
            } while (!categoryIds.insert(cat.id).second);
            cat.name = kCategoryNames[(firstName + k) % std::size(kCategoryNames)];
            shop.categories.push_back(std::move(cat));
        }

        for (int i = 0; i < options.productsPerShop; ++i) {
            Product p = make_product(options, n, i, shop.layout, ids);
            if (options.hostile) make_hostile(p);
            if (options.currentModelValues) current_model_values(p);
            // Uneven categories, so that one of them needs more than one page.
            p.category = i % 2 == 0 ? 0 : (i % 4 == 1 ? 1 : 2);
            const int global = static_cast<int>(c.products_.size());
            c.offerIndex_[p.offerId] = c.products_.size();
            shop.products.push_back(global);
            shop.categories[static_cast<std::size_t>(p.category)].products.push_back(global);
            c.products_.push_back(std::move(p));
        }

        if (shop.layout == ShopTemplate::NewTmall) {
            shop.promoId = std::to_string(900000000000ULL + static_cast<std::uint64_t>(n) * 1000);
            shop.promoTitle = "【店铺推荐】";
            shop.promoTitle += r.pick(kMaterials);
            shop.promoTitle += r.pick(kItems);
            shop.promoPrice = "9.90";
        }
        c.shops_.push_back(std::move(shop));
    }
    return c;
}

const Shop* Catalogue::shop(int n) const {
    if (n < 1 || n > static_cast<int>(shops_.size())) return nullptr;
    return &shops_[static_cast<std::size_t>(n - 1)];
}

Product* Catalogue::edit_offer(std::string_view offerId) {
    return const_cast<Product*>(find_offer(offerId));
}

const Product* Catalogue::find_offer(std::string_view offerId) const {
    const auto it = offerIndex_.find(std::string(offerId));
    return it == offerIndex_.end() ? nullptr : &products_[it->second];
}

const KeyPair* Catalogue::find_key(std::string_view appkey) const {
    for (const KeyPair& k : keys_) {
        if (k.appkey == appkey) return &k;
    }
    return nullptr;
}

const Category* Catalogue::find_category(const Shop& shop, std::string_view id) const {
    for (const Category& cat : shop.categories) {
        if (cat.id == id) return &cat;
    }
    return nullptr;
}

std::string Catalogue::describe(int port) const {
    const std::string suffix = ".localhost:" + std::to_string(port);
    std::string out;
    out += "# marketplace-sim catalogue: tab-separated, UTF-8\n";
    out += "# key\tappkey\tappsecret\n";
    out += "# shop\tnumber\thost\ttemplate\tproducts\tpages\tcount-marker\tpage-marker\n";
    out += "# category\tshop\tid\tname\tproducts\tpages\n";
    out += "# promo\tshop\toffer-id\ttitle\tprice\n";
    out +=
        "# product\tshop\toffer-id\ttitle\tprice\tmain-pictures\tdescription-pictures"
        "\tmissing-description-pictures\tlisted-price\tcategory\tsku\ttitle-tag\n";
    out += "# Wangpu shops show products with listed-price \"no\" as 面议, without price markup.\n";
    out +=
        "# NewTmall listing pages open with the promo item; its link has no \"&\" after the id.\n";
    out += "# Description pictures counted as \"missing\" are named in the description but 404.\n";
    out += "seed\t" + std::to_string(seed_) + "\n";
    out += "port\t" + std::to_string(port) + "\n";
    for (const KeyPair& k : keys_) out += "key\t" + k.appkey + "\t" + k.appsecret + "\n";
    for (const Shop& s : shops_) {
        const int count = static_cast<int>(s.products.size());
        out += "shop\t" + std::to_string(s.number) + "\tshop" + std::to_string(s.number) + suffix +
               "\t" + std::string(template_name(s.layout)) + "\t" + std::to_string(count) + "\t" +
               std::to_string(pages_for(count)) + "\t" +
               (s.upperCaseCountMarker ? "upper" : "lower") + "\t" +
               (s.altPageCount ? "ui-page-s-len" : "page-count") + "\n";
        for (const Category& cat : s.categories) {
            const int n = static_cast<int>(cat.products.size());
            out += "category\t" + std::to_string(s.number) + "\t" + cat.id + "\t" + cat.name +
                   "\t" + std::to_string(n) + "\t" + std::to_string(pages_for(n)) + "\n";
        }
        if (!s.promoId.empty()) {
            out += "promo\t" + std::to_string(s.number) + "\t" + s.promoId + "\t" + s.promoTitle +
                   "\t" + s.promoPrice + "\n";
        }
    }
    static const char* const kSkuNames[] = {"none", "one-level", "two-level"};
    for (const Product& p : products_) {
        const Shop& s = shops_[static_cast<std::size_t>(p.shop - 1)];
        out += "product\t" + std::to_string(p.shop) + "\t" + p.offerId + "\t" + p.title + "\t" +
               p.price + "\t" + std::to_string(p.mainPictures.size()) + "\t" +
               std::to_string(p.description_picture_count()) + "\t" +
               std::to_string(p.missing_description_pictures()) + "\t" +
               (p.listedPrice ? "yes" : "no") + "\t" +
               s.categories[static_cast<std::size_t>(p.category)].id + "\t" +
               kSkuNames[static_cast<int>(p.skuKind)] + "\t" +
               (p.spacedTitleTag ? "<title >" : "<title>") + "\n";
    }
    return out;
}

}  // namespace vq::sim
