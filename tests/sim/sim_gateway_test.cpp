// The gateway: signature checks, and answers read back at the paths the program uses.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "marketplace-sim/shop_pages.hpp"
#include "sim_test_support.hpp"
#include "support/encoding.hpp"
#include "support/text.hpp"
#include "support/xml_document.hpp"

using namespace vq;
using namespace vq::sim;
using simtest::offer_target;
using simtest::RunningSim;

namespace {

const std::string P = "rsp/Responses/Response/Result/result/toReturn/";

std::string gbk(std::string_view utf8) {
    return utf8_to_gbk(utf8);
}

// The answer's lists, consumed the way the program consumes them: read the first element,
// remove it, until none is left.
struct Lists {
    std::vector<std::string> features, ranges, skus, skuPictures, mainPictures;
};

std::string sku_text(const std::string& head, const std::string& at, const XmlDocument& doc) {
    auto v = [&](const char* name) { return doc.node_text(at + name); };
    return head + "|" + v("fid") + ":" + v("value") + "|" + v("specId") + "|" + v("price") + "|" +
           v("retailPrice") + "|" + v("canBookCount") + "|" + v("saleCount");
}

Lists consume_lists(XmlDocument& doc) {
    Lists l;
    while (doc.child_count(P + "productFeatureList") > 0) {
        l.features.push_back(doc.node_text(P + "productFeatureList/fid") + "=" +
                             doc.node_text(P + "productFeatureList/value"));
        doc.remove_node(P + "productFeatureList");
    }
    while (doc.child_count(P + "priceRanges") > 0) {
        l.ranges.push_back(doc.node_text(P + "priceRanges/range") + "=" +
                           doc.node_text(P + "priceRanges/price"));
        doc.remove_node(P + "priceRanges");
    }
    while (doc.child_count(P + "skuArray") > 0) {
        const std::string parent =
            doc.node_text(P + "skuArray/fid") + ":" + doc.node_text(P + "skuArray/value");
        while (doc.child_count(P + "skuArray/children") > 0) {
            l.skus.push_back(sku_text(parent, P + "skuArray/children/", doc));
            doc.remove_node(P + "skuArray/children");
        }
        while (!doc.node_text(P + "skuArray/saleCount").empty()) {
            l.skus.push_back(sku_text("", P + "skuArray/", doc));
            doc.remove_node(P + "skuArray/saleCount");
        }
        doc.remove_node(P + "skuArray");
    }
    while (doc.child_count(P + "skuPics/3216") > 0) {
        std::vector<std::string> names;
        doc.child_names(P + "skuPics/@1", names);
        l.skuPictures.push_back((names.empty() ? "" : names[0]) + "=" +
                                doc.node_text(P + "skuPics/@1/@1"));
        doc.remove_node(P + "skuPics/3216");
    }
    while (doc.child_count(P + "imageList") > 0) {
        l.mainPictures.push_back(doc.node_text(P + "imageList/originalImageURI"));
        doc.remove_node(P + "imageList");
    }
    return l;
}

std::string catalogue_sku(const std::string& head, const SkuItem& s) {
    return head + "|" + s.fid + ":" + s.value + "|" + s.specId + "|" + s.price + "|" +
           s.retailPrice + "|" + s.canBookCount + "|" + s.saleCount;
}

Lists expected_lists(const Product& p, int port) {
    Lists l;
    for (const Feature& f : p.features) l.features.push_back(gbk(f.fid + "=" + f.value));
    for (const PriceRange& r : p.priceRanges) l.ranges.push_back(gbk(r.range + "=" + r.price));
    for (const SkuItem& s : p.skus) {
        if (s.children.empty()) l.skus.push_back(gbk(catalogue_sku("", s)));
        for (const SkuItem& c : s.children)
            l.skus.push_back(gbk(catalogue_sku(s.fid + ":" + s.value, c)));
    }
    for (const SkuPicture& s : p.skuPictures)
        l.skuPictures.push_back(gbk(s.name + "=" + picture_address(s.picture, port)));
    for (const PictureRef& pic : p.mainPictures)
        l.mainPictures.push_back(picture_address(pic, port));
    return l;
}

TEST(Gateway, SignedRequestGetsEveryFieldAtItsPath) {
    RunningSim s;
    const Catalogue& c = s.sim.catalogue();
    const KeyPair& key = c.keys().back();
    // Products 0 to 6 of a shop cover: no SKUs, one level by colour and by size, two levels
    // (with a blank child price), "&", "*" and "|" in titles, and no price ranges (6).
    for (int i = 0; i <= 6; ++i) {
        const Product& p = c.products()[static_cast<std::size_t>(i)];
        SCOPED_TRACE("product " + std::to_string(i));
        const auto res = s.get("gw", offer_target(key.appkey, key.appsecret, p.offerId));
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        XmlDocument doc;
        ASSERT_TRUE(doc.load_bytes(res->body));  // declared UTF-8: converted once to GBK
        EXPECT_EQ(doc.node_text("@1/msg"), "");

        std::string subject = replace_all(p.title, "&", "&amp;");
        EXPECT_EQ(doc.node_text(P + "subject"), gbk(subject));
        const std::pair<const char*, std::string> fields[] = {
            {"offerId", p.offerId},
            {"amount", p.amount},
            {"productUnitWeight", p.productUnitWeight},
            {"retailPrice/amount", p.retailPrice},
            {"amountOnSale", p.amountOnSale},
            {"unit", p.unit},
            {"postCategryId", p.postCategryId},
            {"sendGoodsId", p.sendGoodsId},
            {"freightTemplateId", p.freightTemplateId},
            {"termOfferProcess", p.termOfferProcess},
        };
        for (const auto& [path, value] : fields) {
            EXPECT_EQ(doc.node_text(P + path), gbk(value)) << path;
        }

        // The description stays escaped once: tags as &lt;...&gt;, its entities as &amp;...;
        const std::string details = doc.node_text(P + "details");
        EXPECT_TRUE(contains_text(details, "&lt;IMG"));
        int images = 0, backgrounds = 0;
        for (int at = find_text(details, " src=\"http://"); at > 0;
             at = find_text(details, " src=\"http://", at + 1))
            ++images;
        for (int at = find_text(details, "background=\"http://"); at > 0;
             at = find_text(details, "background=\"http://", at + 1))
            ++backgrounds;
        EXPECT_EQ(images, static_cast<int>(p.descriptionImages.size()));
        EXPECT_EQ(backgrounds, static_cast<int>(p.descriptionBackgrounds.size()));
        EXPECT_TRUE(contains_text(details, "&amp;nbsp;"));
        EXPECT_TRUE(contains_text(details, "&amp;ldquo;"));
        EXPECT_TRUE(contains_text(details, "&quot;"));
        EXPECT_TRUE(contains_text(details, "\r\n"));

        const Lists got = consume_lists(doc);
        const Lists want = expected_lists(p, s.port);
        EXPECT_EQ(got.features, want.features);
        EXPECT_EQ(got.ranges, want.ranges);
        EXPECT_EQ(got.skus, want.skus);
        EXPECT_EQ(got.skuPictures, want.skuPictures);
        EXPECT_EQ(got.mainPictures, want.mainPictures);
    }
}

TEST(Gateway, BadRequestsGetAMessageDocument) {
    RunningSim s;
    const Catalogue& c = s.sim.catalogue();
    const KeyPair& key = c.keys().front();
    const std::string id = c.products().front().offerId;
    const std::string good = offer_target(key.appkey, key.appsecret, id);
    const std::string signedFor = good.substr(0, good.find("&_aop_signature="));
    const std::string sig = good.substr(good.find("&_aop_signature=") + 16);

    // The same three parameters in another order still carry a valid signature: the base
    // string sorts them.
    const std::string reordered = "/openapi/param2/1/cn.alibaba.open/offer.get/" + key.appkey +
                                  "?_aop_responseFormat&returnFields=" + simtest::kReturnFields +
                                  "&_aop_signature=" + sig + "&offerId=" + id;
    struct Case {
        const char* what;
        std::string target;
        bool error;
    };
    const Case cases[] = {
        {"signed request", good, false},
        {"parameters in another order", reordered, false},
        {"wrong signature", signedFor + "&_aop_signature=" + std::string(40, '0'), true},
        {"lower-case signature", signedFor + "&_aop_signature=" + to_lower_ascii(sig), true},
        {"no signature", signedFor, true},
        {"changed offer id", replace_all(good, "offerId=" + id, "offerId=1" + id), true},
        {"unknown key", offer_target("1", key.appsecret, id), true},
        {"unknown offer, signed", offer_target(key.appkey, key.appsecret, "123"), true},
        {"other secret", offer_target(key.appkey, c.keys().back().appsecret, id), true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const auto res = s.get("gw", k.target);
        ASSERT_TRUE(res);
        XmlDocument doc;
        ASSERT_TRUE(doc.load_bytes(res->body));
        EXPECT_EQ(doc.node_text("@1/msg").empty(), !k.error);
        EXPECT_EQ(doc.node_text(P + "offerId").empty(), k.error);
    }
}

}  // namespace
