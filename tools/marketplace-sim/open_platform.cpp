#include "marketplace-sim/open_platform.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "marketplace-sim/gateway.hpp"
#include "marketplace-sim/prng.hpp"
#include "marketplace-sim/product_json.hpp"

namespace vq::sim {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kCodeSeconds = 120;
constexpr std::size_t kMostRelationshipIds = 20;

std::int64_t now_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// "yyyyMMddHHmmss+0800", the platform's time form.
std::string platform_time(std::int64_t epoch) {
    const std::time_t t = static_cast<std::time_t>(epoch + 8 * 3600);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S+0800", &tm);
    return text;
}

std::string dump(const Json& doc) {
    return doc.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Gateway errors: error_code / error_message with an HTTP error status.
PlatformAnswer gateway_error(int status, std::string_view code, std::string_view message) {
    Json doc = Json::object();
    doc["error_code"] = std::string(code);
    doc["error_message"] = std::string(message);
    doc["request_id"] = "0bb0a1" + std::to_string(status);
    return {status, dump(doc), {}, {}};
}

PlatformAnswer ok(const Json& doc) { return {200, dump(doc), {}, {}}; }

std::string field(const PlatformFields& fields, std::string_view name) {
    for (const auto& [n, v] : fields) {
        if (n == name) return v;
    }
    return {};
}

bool has_field(const PlatformFields& fields, std::string_view name) {
    return std::any_of(fields.begin(), fields.end(), [&](const auto& f) { return f.first == name; });
}

// The signature over path + fields, sorted either as joined strings (the official SDK) or by
// name (some general SDKs); both are accepted.
bool signature_holds(std::string_view path, const PlatformFields& fields, const std::string& secret) {
    std::string sent;
    std::vector<std::pair<std::string, std::string>> signedFields;
    for (const auto& f : fields) {
        if (f.first == "_aop_signature") {
            sent = f.second;
        } else {
            signedFields.push_back(f);
        }
    }
    if (sent.empty()) return false;
    std::vector<std::string> joined;
    for (const auto& [n, v] : signedFields) joined.push_back(n + v);
    std::sort(joined.begin(), joined.end());
    std::string base(path);
    for (const std::string& j : joined) base += j;
    if (hmac_sha1_upper_hex(secret, base) == sent) return true;
    std::stable_sort(signedFields.begin(), signedFields.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    base.assign(path);
    for (const auto& [n, v] : signedFields) base += n + v;
    return hmac_sha1_upper_hex(secret, base) == sent;
}

// The ids of a productIdList: every run of digits in the text.
std::vector<std::string> listed_ids(const std::string& text) {
    std::vector<std::string> ids;
    std::string digits;
    for (const char c : text + " ") {
        if (c >= '0' && c <= '9') {
            digits += c;
        } else if (!digits.empty()) {
            ids.push_back(std::move(digits));
            digits.clear();
        }
    }
    return ids;
}

// The address with fields added to its query, percent-encoded.
std::string with_query(std::string address, const std::vector<std::pair<std::string, std::string>>& add) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const auto& [n, v] : add) {
        address += address.find('?') == std::string::npos ? '?' : '&';
        address += n + "=";
        for (const unsigned char c : v) {
            if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                c == '_' || c == '.') {
                address += static_cast<char>(c);
            } else {
                address += '%';
                address += kHex[c >> 4];
                address += kHex[c & 15];
            }
        }
    }
    return address;
}

// The host of an address ("http://localhost:8080/x" gives "localhost").
std::string host_of(const std::string& address) {
    const std::size_t scheme = address.find("://");
    if (scheme == std::string::npos) return {};
    std::string rest = address.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    return rest.substr(0, rest.find(':'));
}

PlatformAnswer page(int status, std::string_view text) {
    return {status, "<html><body><p>" + std::string(text) + "</p></body></html>",
            "text/html; charset=utf-8", {}};
}

}  // namespace

void OpenPlatform::reset(const Catalogue* catalogue, int tokenLifetimeSeconds,
                         int refreshLifetimeSeconds, std::uint64_t seed) {
    std::lock_guard lock(mutex_);
    catalogue_ = catalogue;
    tokenLifetime_ = tokenLifetimeSeconds;
    refreshLifetime_ = refreshLifetimeSeconds;
    seed_ = seed;
    counter_ = 0;
    refusingRefresh_ = false;
    access_.clear();
    refresh_.clear();
    codes_.clear();
    relationships_.clear();
    statuses_.clear();
}

std::string OpenPlatform::next_secret(std::string_view kind) {
    SplitMix64 r(hash_bytes(kind, seed_ ^ mix64(++counter_)));
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out(kind);
    out += '-';
    for (int i = 0; i < 32; ++i) out += kHex[r.below(16)];
    return out;
}

IssuedToken OpenPlatform::issue_locked(const std::string& appkey, int lifetimeSeconds, bool withRefresh) {
    IssuedToken issued;
    issued.accessToken = next_secret("at");
    const int lifetime = lifetimeSeconds < 0 ? tokenLifetime_ : lifetimeSeconds;
    access_[issued.accessToken] = {appkey, lifetime > 0 ? now_seconds() + lifetime : 0, false};
    if (withRefresh) {
        issued.refreshToken = next_secret("rt");
        refresh_[issued.refreshToken] = {appkey, now_seconds() + refreshLifetime_};
    }
    return issued;
}

IssuedToken OpenPlatform::issue_token(std::string_view appkey, int lifetimeSeconds) {
    std::lock_guard lock(mutex_);
    return issue_locked(std::string(appkey), lifetimeSeconds, true);
}

void OpenPlatform::expire_access_tokens() {
    std::lock_guard lock(mutex_);
    for (auto& [token, access] : access_) access.expired = true;
}

void OpenPlatform::set_refusing_refresh(bool refusing) {
    std::lock_guard lock(mutex_);
    refusingRefresh_ = refusing;
}

void OpenPlatform::set_offer_status(std::string offerId, std::string status) {
    std::lock_guard lock(mutex_);
    statuses_[std::move(offerId)] = std::move(status);
}

void OpenPlatform::drop_relationships() {
    std::lock_guard lock(mutex_);
    relationships_.clear();
}

int OpenPlatform::relationship_size(std::string_view appkey) const {
    std::lock_guard lock(mutex_);
    const auto found = relationships_.find(std::string(appkey));
    return found == relationships_.end() ? 0 : static_cast<int>(found->second.size());
}

PlatformAnswer OpenPlatform::gateway(std::string_view path, const PlatformFields& fields, int port) {
    // /openapi/{protocol}/{version}/{namespace}/{name}/{appKey}
    constexpr std::string_view kHead = "/openapi/";
    if (path.substr(0, kHead.size()) != kHead)
        return gateway_error(404, "gw.APIUnsupported", "API is not supported");
    std::vector<std::string> parts;
    std::string_view rest = path.substr(kHead.size());
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        parts.emplace_back(rest.substr(0, slash));
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    if (parts.size() != 5 || (parts[0] != "param2" && parts[0] != "http"))
        return gateway_error(404, "gw.APIUnsupported", "API is not supported");
    const std::string& ns = parts[2];
    const std::string& name = parts[3];
    const std::string& appkey = parts[4];

    std::lock_guard lock(mutex_);
    const KeyPair* key = catalogue_ ? catalogue_->find_key(appkey) : nullptr;
    if (key == nullptr) return gateway_error(400, "gw.AppKeyNotExist", "App key does not exist");

    const bool tokenMethod = ns == "system.oauth2" && name == "getToken";
    if (parts[0] == "http") {
        // The unsigned protocol serves the token exchange only.
        if (!tokenMethod) return gateway_error(404, "gw.APIUnsupported", "API is not supported");
        return get_token(*key, fields);
    }
    if (!signature_holds(path.substr(kHead.size()), fields, key->appsecret))
        return gateway_error(400, "gw.SignatureInvalid", "Signature is invalid");
    if (tokenMethod) return get_token(*key, fields);

    const bool cross = ns == "com.alibaba.product" && name == "alibaba.cross.productInfo";
    const bool fenxiao = ns == "com.alibaba.fenxiao" && name == "alibaba.fenxiao.productInfo.get";
    const bool sync = ns == "com.alibaba.product.push" && name == "alibaba.cross.syncProductListPushed";
    if (!cross && !fenxiao && !sync) return gateway_error(404, "gw.APIUnsupported", "API is not supported");

    const std::string token = field(fields, "access_token");
    const auto found = access_.find(token);
    if (found == access_.end() || found->second.appkey != appkey)
        return gateway_error(401, "401", "The access token is invalid");
    if (found->second.expired || (found->second.expires > 0 && found->second.expires <= now_seconds()))
        return gateway_error(401, "401", "The access token is expired");

    if (sync) return sync_relationship(*key, fields);
    return product_info(*key, fields, cross, port);
}

PlatformAnswer OpenPlatform::get_token(const KeyPair& key, const PlatformFields& fields) {
    const auto refused = [](std::string_view why) {
        Json doc = Json::object();
        doc["error_code"] = "invalid_grant";
        doc["error_message"] = std::string(why);
        return PlatformAnswer{401, dump(doc), {}, {}};
    };
    if (field(fields, "client_id") != key.appkey || field(fields, "client_secret") != key.appsecret)
        return refused("client_id or client_secret is invalid");
    const std::string grant = field(fields, "grant_type");
    Json doc = Json::object();
    if (grant == "authorization_code") {
        const auto code = codes_.find(field(fields, "code"));
        if (code == codes_.end() || code->second.appkey != key.appkey || code->second.expires <= now_seconds())
            return refused("The authorization code is invalid or expired");
        if (code->second.redirectUri != field(fields, "redirect_uri"))
            return refused("redirect_uri does not match");
        codes_.erase(code);  // a code works once
        const bool withRefresh = field(fields, "need_refresh_token") == "true";
        const IssuedToken issued = issue_locked(key.appkey, -1, withRefresh);
        doc["access_token"] = issued.accessToken;
        if (withRefresh) {
            doc["refresh_token"] = issued.refreshToken;
            doc["refresh_token_timeout"] = platform_time(refresh_.at(issued.refreshToken).expires);
        }
    } else if (grant == "refresh_token") {
        // The documentation names the field refresh_token, the SDKs refreshToken.
        std::string given = field(fields, "refresh_token");
        if (given.empty()) given = field(fields, "refreshToken");
        const auto found = refresh_.find(given);
        if (refusingRefresh_ || found == refresh_.end() || found->second.appkey != key.appkey ||
            found->second.expires <= now_seconds())
            return refused("The refresh token is invalid or expired");
        // No new refresh token: the old one serves until its own time-out.
        doc["access_token"] = issue_locked(key.appkey, -1, false).accessToken;
    } else {
        return refused("grant_type is not supported");
    }
    doc["expires_in"] = std::to_string(tokenLifetime_);
    doc["aliId"] = "8000" + key.appkey;
    doc["resource_owner"] = "keeper";
    doc["memberId"] = "b2b-" + key.appkey;
    return ok(doc);
}

PlatformAnswer OpenPlatform::product_info(const KeyPair& key, const PlatformFields& fields, bool cross,
                                          int port) {
    std::string id = field(fields, cross ? "productId" : "offerId");
    if (id.empty() && cross) id = field(fields, "productID");
    const Product* product = catalogue_->find_offer(id);
    if (cross) {
        Json doc = Json::object();
        if (product == nullptr) {
            doc["success"] = false;
            doc["message"] = "商品[" + id + "]不存在";
            return ok(doc);
        }
        const auto rel = relationships_.find(key.appkey);
        if (rel == relationships_.end() || rel->second.count(id) == 0) {
            doc["success"] = false;
            doc["errorCode"] = "NO_PERMISSION";
            doc["errorMsg"] = "没有该商品的查询权限";
            return ok(doc);
        }
    } else if (product == nullptr) {
        Json result = Json::object();
        result["success"] = false;
        result["code"] = "OFFER_NOT_EXIST";
        result["message"] = "商品不存在";
        Json doc = Json::object();
        doc["result"] = std::move(result);
        return ok(doc);
    }
    const auto status = statuses_.find(id);
    const std::string said = product->takenDown ? "expired"
                             : status == statuses_.end() ? "published"
                                                         : status->second;
    return {200,
            product_json(*product, port, cross ? ProductShape::Cross : ProductShape::Fenxiao, said),
            {},
            {}};
}

PlatformAnswer OpenPlatform::sync_relationship(const KeyPair& key, const PlatformFields& fields) {
    const std::vector<std::string> ids = listed_ids(field(fields, "productIdList"));
    Json result = Json::object();
    if (ids.empty()) {
        result["success"] = false;
        result["errorCode"] = "OFFERIDS_IS_NULL";
        result["errorMsg"] = "商品ID列表为空";
    } else if (ids.size() > kMostRelationshipIds) {
        result["success"] = false;
        result["errorCode"] = "OFFERIDS_TOO_MANY";
        result["errorMsg"] = "商品ID列表不能超过20个";
    } else {
        std::set<std::string>& related = relationships_[key.appkey];
        for (const std::string& id : ids) {
            if (catalogue_->find_offer(id)) related.insert(id);
        }
        result["success"] = true;
    }
    Json doc = Json::object();
    doc["result"] = std::move(result);
    return ok(doc);
}

PlatformAnswer OpenPlatform::authorize(std::string_view path, const PlatformFields& query) {
    if (path != "/oauth/authorize") return page(404, "页面不存在");
    std::lock_guard lock(mutex_);
    const std::string appkey = field(query, "client_id");
    if (catalogue_ == nullptr || catalogue_->find_key(appkey) == nullptr) return page(400, "应用不存在");
    const std::string redirect = field(query, "redirect_uri");
    // The app's registered domain is localhost.
    if (host_of(redirect) != "localhost") return page(400, "回调地址与应用的域名不符");
    if (!has_field(query, "state")) return page(400, "缺少 state");
    const std::string code = next_secret("code");
    codes_[code] = {appkey, redirect, now_seconds() + kCodeSeconds};
    PlatformAnswer answer = page(302, "已授权");
    answer.location = with_query(redirect, {{"code", code}, {"state", field(query, "state")}});
    return answer;
}

}  // namespace vq::sim
