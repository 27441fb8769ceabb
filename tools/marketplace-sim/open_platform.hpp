#pragma once
// The stand-in's side of today's Open Platform: the JSON product methods on gw.localhost,
// the token exchange (authorization code and refresh token, on both the signed param2 path
// and the unsigned http path) and the authorize page on auth.localhost. It keeps the state a
// user's app has there: issued codes and tokens, and which offers each app has put into the
// listing relationship.

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marketplace-sim/catalogue.hpp"

namespace vq::sim {

struct IssuedToken {
    std::string accessToken;
    std::string refreshToken;
};

// Form or query fields, decoded, in the order sent.
using PlatformFields = std::vector<std::pair<std::string, std::string>>;

struct PlatformAnswer {
    int status = 200;
    std::string body;         // JSON, or a small page
    std::string contentType;  // empty: JSON
    std::string location;     // a redirect's target
};

class OpenPlatform {
public:
    // Forgets every code, token and relationship.
    void reset(const Catalogue* catalogue, int tokenLifetimeSeconds, int refreshLifetimeSeconds,
               std::uint64_t seed);

    // A gateway request other than offer.get: its path (no query) and every field of its
    // query and body.
    PlatformAnswer gateway(std::string_view path, const PlatformFields& fields, int port);

    // "/oauth/authorize" on auth.localhost: a code for the app, sent to redirect_uri.
    PlatformAnswer authorize(std::string_view path, const PlatformFields& query);

    // A token as the developer console shows one; lifetime below 0: the usual lifetime.
    IssuedToken issue_token(std::string_view appkey, int lifetimeSeconds = -1);
    // Every access token issued so far answers "expired" from now on; refresh tokens stay.
    void expire_access_tokens();
    // Refresh grants are refused (as when the user withdrew the authorization).
    void set_refusing_refresh(bool refusing);
    // The status an offer's answer carries ("published" unless set).
    void set_offer_status(std::string offerId, std::string status);
    // Every app loses its listing relationships.
    void drop_relationships();
    int relationship_size(std::string_view appkey) const;

private:
    struct Access {
        std::string appkey;
        std::int64_t expires = 0;  // epoch seconds; 0: never
        bool expired = false;
    };
    struct Refresh {
        std::string appkey;
        std::int64_t expires = 0;
    };
    struct Code {
        std::string appkey;
        std::string redirectUri;
        std::int64_t expires = 0;
    };

    PlatformAnswer get_token(const KeyPair& key, const PlatformFields& fields);
    PlatformAnswer product_info(const KeyPair& key, const PlatformFields& fields, bool cross, int port);
    PlatformAnswer sync_relationship(const KeyPair& key, const PlatformFields& fields);
    IssuedToken issue_locked(const std::string& appkey, int lifetimeSeconds, bool withRefresh);
    std::string next_secret(std::string_view kind);

    const Catalogue* catalogue_ = nullptr;
    int tokenLifetime_ = 36000;
    int refreshLifetime_ = 0;
    mutable std::mutex mutex_;
    std::uint64_t counter_ = 0;
    std::uint64_t seed_ = 1;
    bool refusingRefresh_ = false;
    std::map<std::string, Access> access_;
    std::map<std::string, Refresh> refresh_;
    std::map<std::string, Code> codes_;
    std::map<std::string, std::set<std::string>> relationships_;  // appkey -> offer ids
    std::map<std::string, std::string> statuses_;
};

}  // namespace vq::sim
