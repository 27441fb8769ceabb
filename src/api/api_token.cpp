#include "api/api_token.hpp"

#include <openssl/rand.h>

#include <charconv>
#include <chrono>
#include <ctime>

#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/ini_file.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

constexpr std::string_view kSection = "TOKEN";

std::int64_t number_or_zero(const std::optional<std::string>& text) {
    if (!text) return 0;
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), n);
    return ec == std::errc() && end == text->data() + text->size() && n > 0 ? n : 0;
}

std::string or_empty(const std::optional<std::string>& text) {
    return text ? *text : std::string();
}

// The query value of name in an address ("" when absent); values are taken as sent, with
// "%XX" decoded.
std::string query_value(std::string_view address, std::string_view name) {
    const std::size_t question = address.find('?');
    if (question == std::string_view::npos) return {};
    std::string_view query = address.substr(question + 1);
    query = query.substr(0, query.find('#'));
    for (const std::string& piece : split_text(query, "&")) {
        const std::size_t eq = piece.find('=');
        if (piece.substr(0, eq) != name) continue;
        const std::string raw = eq == std::string::npos ? std::string() : piece.substr(eq + 1);
        std::string out;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '%' && i + 2 < raw.size()) {
                int value = 0;
                const auto [end, ec] = std::from_chars(raw.data() + i + 1, raw.data() + i + 3, value, 16);
                if (ec == std::errc() && end == raw.data() + i + 3) {
                    out += static_cast<char>(value);
                    i += 2;
                    continue;
                }
            }
            out += raw[i] == '+' ? ' ' : raw[i];
        }
        return out;
    }
    return {};
}

}  // namespace

std::string api_token_path(std::string_view program_folder) {
    std::string path(program_folder);
    if (!path.empty() && path.back() == '/') path.pop_back();
    return path + "/options/token.ini";
}

std::optional<ApiToken> load_api_token(std::string_view gbk_path) {
    IniFile file;
    if (!file.load(gbk_path)) return std::nullopt;
    ApiToken token;
    token.accessToken = or_empty(file.value(kSection, "access_token"));
    if (token.accessToken.empty()) return std::nullopt;
    token.appKey = or_empty(file.value(kSection, "app_key"));
    token.refreshToken = or_empty(file.value(kSection, "refresh_token"));
    token.accessExpires = number_or_zero(file.value(kSection, "access_expires"));
    token.refreshExpires = number_or_zero(file.value(kSection, "refresh_expires"));
    token.resourceOwner = or_empty(file.value(kSection, "resource_owner"));
    token.aliId = or_empty(file.value(kSection, "aliId"));
    token.memberId = or_empty(file.value(kSection, "memberId"));
    return token;
}

bool save_api_token(std::string_view gbk_path, const ApiToken& token) {
    IniFile file;
    const std::pair<std::string_view, std::string> values[] = {
        {"app_key", token.appKey},
        {"access_token", token.accessToken},
        {"refresh_token", token.refreshToken},
        {"access_expires", std::to_string(token.accessExpires)},
        {"refresh_expires", std::to_string(token.refreshExpires)},
        {"resource_owner", token.resourceOwner},
        {"aliId", token.aliId},
        {"memberId", token.memberId},
    };
    for (const auto& [key, value] : values) {
        // A line break from an answer would make a key of its own.
        if (!file.set_value(kSection, key, quoted_ini_value(value))) return false;
    }
    return write_private_file_atomic(gbk_path, file.bytes());
}

bool forget_api_token(std::string_view gbk_path) {
    return remove_file(gbk_path) || !file_exists(gbk_path);
}

std::int64_t epoch_seconds_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string platform_time_text(std::int64_t epoch) {
    if (epoch <= 0) return "未知"_gbk;
    const std::time_t t = static_cast<std::time_t>(epoch + 8 * 3600);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min);
    return text;
}

std::string token_state_text(const std::optional<ApiToken>& token, std::int64_t now) {
    if (!token) return "未授权"_gbk;
    const std::string owner = token->resourceOwner.empty() ? token->appKey : token->resourceOwner;
    std::string text;
    if (token->accessExpires > 0 && token->accessExpires <= now) {
        text = "已过期："_gbk + owner + "，过期于 "_gbk + platform_time_text(token->accessExpires);
    } else {
        text = "已授权："_gbk + owner +
               (token->accessExpires > 0 ? "，有效至 "_gbk + platform_time_text(token->accessExpires)
                                         : "，长期有效"_gbk);
    }
    if (!token->refreshToken.empty()) {
        text += token->refreshExpires > 0 && token->refreshExpires <= now
                    ? "（续期令牌已过期，请重新授权）"_gbk
                    : "（可续期至 "_gbk + platform_time_text(token->refreshExpires) + "）"_gbk;
    }
    return text;
}

std::string authorize_address(const SiteSettings& site, std::string_view appKey,
                              std::string_view state) {
    return site.authorize_url + "?client_id=" + form_encoded(appKey) + "&site=1688" +
           "&redirect_uri=" + form_encoded(site.redirect_uri) + "&state=" + form_encoded(state);
}

std::string random_state() {
    unsigned char bytes[16] = {};
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        const auto t = std::chrono::steady_clock::now().time_since_epoch().count();
        for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(t >> (i % 8 * 8));
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

AuthorizeReply read_authorize_reply(std::string_view pasted) {
    const std::string text = trim_blanks(pasted);
    AuthorizeReply reply;
    if (text.find('?') != std::string::npos || text.find("code=") != std::string::npos) {
        const std::string address = text.find('?') == std::string::npos ? "?" + text : text;
        reply.code = query_value(address, "code");
        reply.state = query_value(address, "state");
        return reply;
    }
    // A bare code: letters, digits and the few marks codes are made of.
    for (const char c : text) {
        const bool fits = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          c == '-' || c == '_' || c == '.';
        if (!fits) return reply;
    }
    reply.code = text;
    return reply;
}

TokenReading request_token(const SiteSettings& site, const AppCredential& app,
                           const ApiFields& grant) {
    ApiFields fields = grant;
    fields.emplace_back("client_id", app.appKey);
    fields.emplace_back("client_secret", app.appSecret);
    const ApiCall call = build_api_call(site, kGetToken, app.appKey, app.appSecret, fields);
    const ApiExchange answer = post_form(call.url, call.body, site.ca_file);
    if (!answer.answered) {
        TokenReading reading;
        reading.error.message = (answer.certificateRefused ? "接口服务器的证书不被信任："_gbk
                                                           : "无法连接接口服务器："_gbk) +
                                answer.failure;
        return reading;
    }
    return read_token_answer(answer.body, answer.status);
}

ApiToken token_from_answer(const TokenAnswer& answer, std::string_view appKey, std::int64_t now,
                           const ApiToken* previous) {
    ApiToken token;
    if (previous) token = *previous;
    token.appKey = appKey;
    token.accessToken = answer.accessToken;
    token.accessExpires = answer.expiresInSeconds > 0 ? now + answer.expiresInSeconds : 0;
    if (!answer.refreshToken.empty()) {
        token.refreshToken = answer.refreshToken;
        token.refreshExpires = answer.refreshTimeoutEpoch;
    }
    if (!answer.resourceOwner.empty()) token.resourceOwner = answer.resourceOwner;
    if (!answer.aliId.empty()) token.aliId = answer.aliId;
    if (!answer.memberId.empty()) token.memberId = answer.memberId;
    return token;
}

std::string authorize_again_text() {
    return "接口授权已失效，请重新授权（命令行：vq auth；窗口：配置 → 接口与授权）"_gbk;
}

TokenKeeper::TokenKeeper(SiteSettings site, AppCredential app, ApiToken token,
                         std::string tokenPath, Now now)
    : site_(std::move(site)),
      app_(std::move(app)),
      path_(std::move(tokenPath)),
      now_(std::move(now)),
      token_(std::move(token)) {}

bool TokenKeeper::refresh_locked() {
    if (!failure_.empty()) return false;
    const std::int64_t now = now_();
    if (token_.refreshToken.empty() ||
        (token_.refreshExpires > 0 && token_.refreshExpires <= now)) {
        failure_ = authorize_again_text();
        return false;
    }
    // The documentation names the field refresh_token, both official SDKs refreshToken.
    const TokenReading reading = request_token(
        site_, app_,
        {{"grant_type", "refresh_token"},
         {"refresh_token", token_.refreshToken},
         {"refreshToken", token_.refreshToken}});
    if (!reading.token) {
        // A stop cuts the refresh short: that is no refusal, but nothing more can be asked.
        failure_ = thread_cancelled() ? "已停止"_gbk
                                      : authorize_again_text() + "：" + reading.error.message;
        return false;
    }
    token_ = token_from_answer(*reading.token, app_.appKey, now, &token_);
    ++generation_;
    ++refreshes_;
    // A token that could not be stored still serves this run.
    if (!path_.empty()) save_api_token(path_, token_);
    return true;
}

std::optional<TokenKeeper::Use> TokenKeeper::current() {
    std::lock_guard lock(mutex_);
    if (!failure_.empty()) return std::nullopt;
    if (token_.accessExpires > 0 && token_.accessExpires <= now_() && !refresh_locked())
        return std::nullopt;
    return Use{token_.accessToken, generation_};
}

std::optional<TokenKeeper::Use> TokenKeeper::renew_after(int generation) {
    std::lock_guard lock(mutex_);
    if (!failure_.empty()) return std::nullopt;
    if (generation_ == generation && !refresh_locked()) return std::nullopt;
    return Use{token_.accessToken, generation_};
}

std::string TokenKeeper::failure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

int TokenKeeper::refreshes() const {
    std::lock_guard lock(mutex_);
    return refreshes_;
}

}  // namespace vq
