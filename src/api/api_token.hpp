#pragma once
// The user's authorization for today's product methods: the token kept in
// options/token.ini, getting it (by code or pasted), refreshing it once for a whole run.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "api/product_answer.hpp"
#include "api/product_request.hpp"
#include "api/site_settings.hpp"

namespace vq {

// The app the user registered: its key and secret.
struct AppCredential {
    std::string appKey;
    std::string appSecret;
};

struct ApiToken {
    std::string appKey;  // the app it was issued to
    std::string accessToken;
    std::string refreshToken;  // empty for a pasted token
    // Seconds since 1970 UTC; 0 when not known (a pasted long-lived token).
    std::int64_t accessExpires = 0;
    std::int64_t refreshExpires = 0;
    std::string resourceOwner;  // GBK: whose token it is
    std::string aliId;
    std::string memberId;

    bool operator==(const ApiToken&) const = default;
};

// program_folder + "/options/token.ini".
std::string api_token_path(std::string_view program_folder);

// The token of the file; nullopt when there is none (no file, no access token in it).
std::optional<ApiToken> load_api_token(std::string_view gbk_path);
// Written atomically, readable by the user only. False when it could not be written.
bool save_api_token(std::string_view gbk_path, const ApiToken& token);
// Removes the file; true when no token file is left.
bool forget_api_token(std::string_view gbk_path);

// Seconds since 1970 UTC of the machine's clock.
std::int64_t epoch_seconds_now();

// "yyyy-MM-dd HH:mm" in UTC+8, the platform's time, for messages; "未知" for 0.
std::string platform_time_text(std::int64_t epoch);

// GBK, for `vq auth --status` and the window: "已授权：<owner>，有效至 <time>（续期至 <time>）",
// "已过期…", or "未授权".
std::string token_state_text(const std::optional<ApiToken>& token, std::int64_t now);

// The address the user opens to authorize the app.
std::string authorize_address(const SiteSettings& site, std::string_view appKey,
                              std::string_view state);
// A fresh random state (hex).
std::string random_state();

// What the user pasted after authorizing: the address the browser was sent to, or the code
// alone. Empty code when there is none in it.
struct AuthorizeReply {
    std::string code;
    std::string state;  // empty when only a code was pasted
};
AuthorizeReply read_authorize_reply(std::string_view pasted);

// getToken for the app with the grant's fields (client_id and client_secret are added).
TokenReading request_token(const SiteSettings& site, const AppCredential& app,
                           const ApiFields& grant);
// The token an answer gives, at now; a refresh answer without a refresh token keeps the
// previous one and its time-out.
ApiToken token_from_answer(const TokenAnswer& answer, std::string_view appKey, std::int64_t now,
                           const ApiToken* previous = nullptr);

// GBK: what to do when the token cannot be had.
std::string authorize_again_text();

// A run's token, shared by its workers: refreshed at most once at a time, the others
// waiting for that refresh and using its token; each new token is stored again.
class TokenKeeper {
public:
    using Now = std::function<std::int64_t()>;
    TokenKeeper(SiteSettings site, AppCredential app, ApiToken token, std::string tokenPath,
                Now now = epoch_seconds_now);

    struct Use {
        std::string accessToken;
        int generation = 0;
    };
    // The token to send, refreshed first when its time is up; nullopt when the run cannot
    // go on (failure() says why).
    std::optional<Use> current();
    // After an answer said the token used (of generation) is expired or unknown: refreshes
    // unless another worker did since.
    std::optional<Use> renew_after(int generation);
    // GBK; empty while the token serves.
    std::string failure() const;
    int refreshes() const;

private:
    // Under mutex_.
    bool refresh_locked();

    const SiteSettings site_;
    const AppCredential app_;
    const std::string path_;
    const Now now_;
    mutable std::mutex mutex_;
    ApiToken token_;
    int generation_ = 0;
    int refreshes_ = 0;
    std::string failure_;
};

}  // namespace vq
