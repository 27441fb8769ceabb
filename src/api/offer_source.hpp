#pragma once
// Where a worker gets its offers: the signed offer.get with its XML answer, or today's JSON
// product methods with the user's token. The pipeline asks through OfferSource and does not
// know which one it has.

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "api/site_settings.hpp"
#include "model/batch_model.hpp"

namespace vq {

// One product's turn at the source.
struct FetchTurn {
    int worker = 0;
    int productNumber = 0;
    // Writes one log line (the text after the time stamp, ending in CR LF).
    std::function<void(const std::string&)> log;
    // Asked before every request after the first: false ends the fetch (a stop, a hold
    // that ended in a stop, a run that ends).
    std::function<bool()> proceed;
    // The key pairs of the run at this moment (offer.get rotates through them).
    std::vector<ApiCredential> credentials;
};

struct OfferFetch {
    enum class Outcome {
        Answered,  // read_offer() and description() give the offer
        Failed,    // the product failed; its lines are logged
        Stopped,   // proceed() said no
        EndsRun,   // nothing more can be fetched in this run: runMessage says why
    };
    Outcome outcome = Outcome::Failed;
    // GBK: "接口密钥被拒绝：…" when the key pair was refused, else empty.
    std::string keyRefusal;
    std::string runMessage;  // GBK, for EndsRun
    // Failed because the platform says the offer is not there or not on sale (the
    // supplier took it down), not because of the request.
    bool gone = false;
    // GBK: the platform's code and message of a failure, when it gave them.
    std::string failureText;
};

// A platform code or message that says the offer does not exist.
bool says_offer_is_gone(std::string_view code, std::string_view message);

class OfferSource {
public:
    virtual ~OfferSource() = default;
    virtual OfferFetch fetch(std::string_view offerId, const FetchTurn& turn) = 0;
    // The answered offer's values as they are (no rules applied, title not cleaned).
    virtual void read_offer(OfferRecord& record) = 0;
    // The answered offer's description HTML as the seller wrote it.
    virtual std::string description() = 0;
    // The answered offer's status as the answer gives it; empty where it gives none.
    virtual std::string status() const { return {}; }
    // offer.get: the next key pair's number (1-based; 0 before the first product).
    virtual int credential_cursor() const { return 0; }
};

// A run's sources: what the workers share (the token, the listing relationship) and one
// source per worker.
class OfferSources {
public:
    virtual ~OfferSources() = default;
    virtual std::unique_ptr<OfferSource> for_worker() = 0;
};

// The offer.get source (the key pairs come with each turn).
std::shared_ptr<OfferSources> offer_get_sources(const SiteSettings& site);

}  // namespace vq
