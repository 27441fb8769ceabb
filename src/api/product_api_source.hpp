#pragma once
// The offers through today's product methods (alibaba.cross.productInfo or
// alibaba.fenxiao.productInfo.get): signed POSTs with the user's token, the token refreshed
// once for all workers when it runs out, and for cross.productInfo the listing
// relationship made before the offers are asked for.

#include <memory>
#include <string>
#include <vector>

#include "api/api_token.hpp"
#include "api/offer_source.hpp"

namespace vq {

struct ProductApiSetup {
    SiteSettings site;  // product_api is CrossProductInfo or FenxiaoProductInfo
    AppCredential app;
    ApiToken token;
    std::string tokenPath;  // where a refreshed token is stored; empty: not stored
    // The run's offer ids in list order: the relationship is made for them 20 at a time.
    std::vector<std::string> offerIds;
    TokenKeeper::Now now = epoch_seconds_now;
};

// At most this many ids go into one relationship call.
inline constexpr int kRelationshipBatch = 20;


// The sources of a run, sharing one token keeper and one relationship book.
std::shared_ptr<OfferSources> product_api_sources(ProductApiSetup setup);

}  // namespace vq

namespace vq {

// The sources a run of this site takes, or why it cannot start (GBK): a product_api that
// names no profile; for today's methods, no token, no key pair for its app, or a token
// that has run out with nothing to renew it.
struct SourceChoice {
    std::shared_ptr<OfferSources> sources;
    std::string refusal;
};
SourceChoice choose_offer_sources(const SiteSettings& site, const std::string& tokenPath,
                                  const std::vector<ApiCredential>& credentials,
                                  std::vector<std::string> offerIds,
                                  TokenKeeper::Now now = epoch_seconds_now);

}  // namespace vq
