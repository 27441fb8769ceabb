#pragma once
// The calls of today's product methods: POST to
// {scheme}://{gateway}/openapi/param2/{version}/{namespace}/{name}/{appKey} with the fields
// form-encoded in the body, signed with the app secret like offer.get.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/site_settings.hpp"

namespace vq {

using ApiFields = std::vector<std::pair<std::string, std::string>>;

// The methods, as "version/namespace/name".
inline constexpr std::string_view kCrossProductInfo = "1/com.alibaba.product/alibaba.cross.productInfo";
inline constexpr std::string_view kSyncProductListPushed =
    "1/com.alibaba.product.push/alibaba.cross.syncProductListPushed";
inline constexpr std::string_view kFenxiaoProductInfo =
    "1/com.alibaba.fenxiao/alibaba.fenxiao.productInfo.get";
inline constexpr std::string_view kGetToken = "1/system.oauth2/getToken";

// Upper-case hex HMAC-SHA1 keyed with secret over path followed by every field as name +
// value, these joined strings sorted in byte order. Empty when no digest can be made.
std::string api_signature(std::string_view path, const ApiFields& fields, std::string_view secret);

// The value percent-encoded for a form body (letters, digits and "-._~" stay; everything
// else, the bytes of UTF-8 characters included, becomes "%XX").
std::string form_encoded(std::string_view value);

struct ApiCall {
    std::string url;
    std::string body;
};

// A signed param2 call of method (see the constants) for the app. The fields are sent as
// given (UTF-8), then "_aop_signature".
ApiCall build_api_call(const SiteSettings& site, std::string_view method, std::string_view appkey,
                       std::string_view secret, const ApiFields& fields);

}  // namespace vq
