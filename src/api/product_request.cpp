#include "api/product_request.hpp"

#include <algorithm>

#include "api/offer_request.hpp"
#include "support/text.hpp"

namespace vq {

std::string api_signature(std::string_view path, const ApiFields& fields, std::string_view secret) {
    std::vector<std::string> joined;
    joined.reserve(fields.size());
    for (const auto& [name, value] : fields) joined.push_back(name + value);
    std::sort(joined.begin(), joined.end());
    std::string base(path);
    for (const std::string& piece : joined) base += piece;
    return to_upper_ascii(hmac_sha1_hex(secret, base));
}

std::string form_encoded(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const unsigned char c : value) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

ApiCall build_api_call(const SiteSettings& site, std::string_view method, std::string_view appkey,
                       std::string_view secret, const ApiFields& fields) {
    const std::string path = "param2/" + std::string(method) + "/" + std::string(appkey);
    ApiCall call;
    call.url = gateway_scheme_of(site) + "://" + site.gateway_host + "/openapi/" + path;
    for (const auto& [name, value] : fields) {
        if (!call.body.empty()) call.body += '&';
        call.body += form_encoded(name) + "=" + form_encoded(value);
    }
    if (!call.body.empty()) call.body += '&';
    call.body += "_aop_signature=" + api_signature(path, fields, secret);
    return call;
}

}  // namespace vq
