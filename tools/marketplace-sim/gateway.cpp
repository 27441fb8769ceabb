#include "marketplace-sim/gateway.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "marketplace-sim/shop_pages.hpp"

namespace vq::sim {
namespace {

std::string element(std::string_view name, std::string_view text) {
    std::string out = "<" + std::string(name) + ">";
    out += html_escape(text, false);
    out += "</" + std::string(name) + ">";
    return out;
}

std::string sku_fields(const SkuItem& s) {
    return element("fid", s.fid) + element("value", s.value) + element("specId", s.specId) +
           element("price", s.price) + element("retailPrice", s.retailPrice) +
           element("canBookCount", s.canBookCount) + element("saleCount", s.saleCount);
}

}  // namespace

std::string hmac_sha1_upper_hex(std::string_view key, std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest,
             &length) == nullptr) {
        return {};
    }
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0x0F];
    }
    return out;
}

GatewayVerdict check_offer_request(std::string_view target, const Catalogue& catalogue) {
    GatewayVerdict verdict;
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (path.substr(0, kOfferGetPath.size()) != kOfferGetPath) return verdict;
    const std::string_view appkey = path.substr(kOfferGetPath.size());
    if (appkey.empty() || appkey.find('/') != std::string_view::npos) return verdict;

    const KeyPair* key = catalogue.find_key(appkey);
    if (key == nullptr) {
        verdict.outcome = GatewayOutcome::UnknownKey;
        return verdict;
    }

    // Values are taken as sent: the program does not percent-encode them, and neither side
    // decodes them before signing.
    std::vector<std::pair<std::string, std::string>> params;
    std::string signature;
    bool signed_request = false;
    std::size_t from = 0;
    while (from <= query.size() && !query.empty()) {
        std::size_t amp = query.find('&', from);
        if (amp == std::string_view::npos) amp = query.size();
        const std::string_view piece = query.substr(from, amp - from);
        if (!piece.empty()) {
            const std::size_t eq = piece.find('=');
            std::string name(piece.substr(0, eq));
            std::string value(eq == std::string_view::npos ? std::string_view()
                                                           : piece.substr(eq + 1));
            if (name == "_aop_signature") {
                signature = std::move(value);
                signed_request = true;
            } else {
                params.emplace_back(std::move(name), std::move(value));
            }
        }
        from = amp + 1;
    }
    std::stable_sort(params.begin(), params.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string base = "param2/1/cn.alibaba.open/offer.get/" + std::string(appkey);
    for (const auto& [name, value] : params) base += name + value;
    if (!signed_request || signature != hmac_sha1_upper_hex(key->appsecret, base)) {
        verdict.outcome = GatewayOutcome::BadSignature;
        return verdict;
    }

    std::string offerId;
    for (const auto& [name, value] : params) {
        if (name == "offerId") offerId = value;
        if (name == "returnFields") {
            verdict.fieldsListed = true;
            std::size_t at = 0;
            while (at <= value.size()) {
                std::size_t comma = value.find(',', at);
                if (comma == std::string::npos) comma = value.size();
                if (comma > at) verdict.fields.insert(value.substr(at, comma - at));
                at = comma + 1;
            }
        }
    }
    verdict.product = catalogue.find_offer(offerId);
    if (verdict.product && verdict.product->takenDown) verdict.product = nullptr;
    verdict.outcome = verdict.product ? GatewayOutcome::Ok : GatewayOutcome::UnknownOffer;
    return verdict;
}

std::string escape_markup_for_xml(std::string_view html) {
    std::string out;
    bool inTag = false;
    for (char c : html) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                inTag = true;
                out += "&lt;";
                break;
            case '>':
                inTag = false;
                out += "&gt;";
                break;
            case '"':
                out += inTag ? "\"" : "&quot;";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::string description_html(const Product& p, int port) {
    std::string out =
        "<p style=\"text-align:center;\"><span style=\"font-size:16px;"
        "font-family:宋体,Arial;\"><strong>" +
        html_escape(p.title) + "</strong></span></p>\r\n";
    out += "<p>&ldquo;" + p.slogan +
           "&rdquo;&nbsp;&nbsp;本店商品均为实物拍摄, 欢迎新老客户\"批发\"选购&hellip;</p>\r\n";
    out += "<table width=\"750\" border=\"0\" cellpadding=\"0\" cellspacing=\"0\"";
    if (!p.descriptionBackgrounds.empty()) {
        out += " background=\"" + picture_address(p.descriptionBackgrounds[0], port) + "\"";
    }
    out += ">\r\n<tr><td height=\"40\"";
    if (p.descriptionBackgrounds.size() > 1) {
        out += " background=\"" + picture_address(p.descriptionBackgrounds[1], port) + "\"";
    }
    out += ">产品参数&mdash;";
    for (std::size_t i = 0; i < p.features.size(); ++i) {
        if (i > 0) out += ", ";
        out += p.features[i].name + "：" + p.features[i].value;
    }
    out += "</td></tr>\r\n</table>\n";
    for (std::size_t i = 0; i < p.descriptionImages.size(); ++i) {
        // Sellers' editors write the tag in either case.
        out += std::string("<p align=\"center\">") + (i % 2 == 0 ? "<IMG" : "<img") + " src=\"" +
               picture_address(p.descriptionImages[i], port) + "\" align=\"absmiddle\" /></p>\r\n";
    }
    out += "<p>注意事项：颜色以实物为准, 量大请联系客服。</p>";
    return out;
}

std::string offer_answer(const Product& p, int port, const GatewayVerdict& verdict) {
    auto wanted = [&](std::string_view name) {
        return !verdict.fieldsListed || verdict.fields.count(std::string(name)) > 0;
    };
    std::string body;
    auto field = [&](std::string_view name, std::string_view text) {
        if (wanted(name)) body += element(name, text) + "\n";
    };

    field("offerId", p.offerId);
    field("isPrivate", "false");
    field("detailsUrl", site_address("detail", port) + "/offer/" + p.offerId + ".html");
    field("type", "SALE");
    field("tradeType", "1");
    field("postCategryId", p.postCategryId);
    field("offerStatus", "published");
    field("memberId", p.memberId);
    field("subject", p.title);
    if (wanted("details")) {
        body += "<details>" + escape_markup_for_xml(description_html(p, port)) + "</details>\n";
    }
    field("qualityLevel", "3");
    if (wanted("imageList")) {
        for (const PictureRef& pic : p.mainPictures) {
            const std::string address = picture_address(pic, port);
            body += "<imageList>" + element("size310x310URL", address + ".310x310.jpg") +
                    element("originalImageURI", address) + "</imageList>\n";
        }
    }
    if (wanted("productFeatureList")) {
        for (const Feature& f : p.features) {
            body += "<productFeatureList>" + element("fid", f.fid) + element("name", f.name) +
                    element("value", f.value) + "</productFeatureList>\n";
        }
    }
    field("isOfferSupportOnlineTrade", "true");
    field("tradingType", "1");
    field("isSupportMix", "true");
    field("unit", p.unit);
    field("priceUnit", "元");
    field("amount", p.amount);
    field("amountOnSale", p.amountOnSale);
    field("saledCount", p.saledCount);
    if (wanted("retailPrice")) {
        body += "<retailPrice>" + element("amount", p.retailPrice) +
                element("currencyCode", "CNY") + "</retailPrice>\n";
    }
    if (wanted("priceRanges")) {
        for (const PriceRange& r : p.priceRanges) {
            body += "<priceRanges>" + element("range", r.range) + element("price", r.price) +
                    "</priceRanges>\n";
        }
    }
    field("termOfferProcess", p.termOfferProcess);
    field("freightTemplateId", p.freightTemplateId);
    field("sendGoodsId", p.sendGoodsId);
    field("productUnitWeight", p.productUnitWeight);
    field("freightType", "T");
    field("isSkuOffer", p.skus.empty() ? "false" : "true");
    field("isSkuTradeSupported", p.skus.empty() ? "false" : "true");
    if (wanted("skuArray")) {
        for (const SkuItem& s : p.skus) {
            body += "<skuArray>";
            if (s.children.empty()) {
                body += sku_fields(s);
            } else {
                body += element("fid", s.fid) + element("value", s.value);
                for (const SkuItem& c : s.children)
                    body += "<children>" + sku_fields(c) + "</children>";
            }
            body += "</skuArray>\n";
        }
    }
    field("gmtCreate", "20140318090507000+0800");
    field("gmtModified", "20140402101010000+0800");
    // The marketplace keys SKU pictures by attribute id and names each entry after the SKU
    // value, so these element names are "3216" and e.g. a colour.
    if (wanted("skuPics") && !p.skuPictures.empty()) {
        body += "<skuPics>";
        for (const SkuPicture& s : p.skuPictures) {
            body += "<3216>" + element(s.name, picture_address(s.picture, port)) + "</3216>";
        }
        body += "</skuPics>\n";
    }

    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<rsp><Responses><Response><Result><result><toReturn>\n" +
           body +
           "</toReturn></result><total>1</total><success>true</success></Result></Response>"
           "</Responses></rsp>\n";
}

std::string error_answer(std::string_view code, std::string_view msg) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rsp>" + element("code", code) +
           element("msg", msg) + "</rsp>\n";
}

}  // namespace vq::sim
