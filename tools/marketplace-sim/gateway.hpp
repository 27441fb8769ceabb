#pragma once
// The stand-in Open Platform gateway: checks a signed offer.get request (with code of its
// own, independent of the program's signing) and writes the UTF-8 XML answers.

#include <set>
#include <string>
#include <string_view>

#include "marketplace-sim/catalogue.hpp"

namespace vq::sim {

inline constexpr std::string_view kOfferGetPath = "/openapi/param2/1/cn.alibaba.open/offer.get/";

enum class GatewayOutcome { Ok, UnknownApi, UnknownKey, BadSignature, UnknownOffer };

struct GatewayVerdict {
    GatewayOutcome outcome = GatewayOutcome::UnknownApi;
    const Product* product = nullptr;  // set when Ok
    bool fieldsListed = false;         // returnFields was sent
    std::set<std::string> fields;      // its names
};

// Reads the raw request target (path and query exactly as sent). The signature covers
// "param2/1/cn.alibaba.open/offer.get/" + appkey + every query parameter but
// _aop_signature, sorted by name in byte order, each as name + value; it must be the
// upper-case hex HMAC-SHA1 keyed with the appkey's secret.
GatewayVerdict check_offer_request(std::string_view target, const Catalogue& catalogue);

// 40 upper-case hex digits.
std::string hmac_sha1_upper_hex(std::string_view key, std::string_view data);

// The success document, limited to the listed fields when the request listed some.
std::string offer_answer(const Product& product, int port, const GatewayVerdict& verdict);

// <rsp><code>code</code><msg>msg</msg></rsp>; code and msg are plain ASCII.
std::string error_answer(std::string_view code, std::string_view msg);

// The description HTML of a product, as the seller wrote it (UTF-8).
std::string description_html(const Product& product, int port);

// XML text escaping of HTML markup: "&", "<" and ">" always; a double quote only outside
// tags, so attribute quotes stay as they are.
std::string escape_markup_for_xml(std::string_view html);

}  // namespace vq::sim
