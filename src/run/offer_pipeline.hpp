#pragma once
// The per-product pipeline a copy-run worker runs: the offer from the run's source (offer.get
// with its key pair round robin, or today's product methods), the listing rules,
// description, pictures, package row.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "api/offer_source.hpp"
#include "model/batch_model.hpp"
#include "model/product_list.hpp"
#include "content/description.hpp"
#include "content/pictures.hpp"
#include "net/http_client.hpp"
#include "support/xml_document.hpp"

namespace vq {

// What a worker reads and writes while it runs.
struct RunEnvironment {
    ProductList* list = nullptr;
    BatchState* state = nullptr;
    RunSettings settings;  // the run's own copy, taken at START
    const LiveOptions* options = nullptr;
    LogSink* log = nullptr;
    const Clock* clock = nullptr;
    // Stamps of main picture names; null = the process's one sequence.
    MillisSequence* millis = nullptr;
    // The run's hold and stop: the pipeline waits at its steps while held and gives up
    // the product when stopped. May be null (never held, never stopped).
    const CancelToken* token = nullptr;
    // A product's pictures are fetched ahead, side by side, and pictures the run has saved
    // already come from its cache (cache may be null). Off: one picture at a time, each from
    // the network, as a plain sequence would.
    bool picturesAhead = true;
    PictureCache* pictureCache = nullptr;
    // Where pictures the disk refused are reported; once one is, the product goes no
    // further. May be null.
    WriteTrouble* writeTrouble = nullptr;
    // The run's way to the offers; null = offer.get to the current site settings' gateway.
    std::shared_ptr<OfferSources> sources;
};

// One worker's pipeline; keeps the credential cursor, the answer document and the
// description matchers from product to product.
class ProductPipeline {
public:
    ProductPipeline(int worker, const RunEnvironment& environment);
    ~ProductPipeline();

    // Processes product n (row n - 1): the finished package row, or nothing when the
    // product has no title (or the run was stopped on the way). claim_next, when given, is
    // asked once the answer has been read: a product number (0: none) whose answer is then
    // fetched while this product's pictures download. That product must be the next one
    // asked for; nothing of it is logged or written before it is.
    std::optional<std::string> process_product(int n, const std::function<int()>& claim_next = {});

    int last_product_number() const { return lastProduct_; }
    // The list row of the last processed product as it was read when the product began.
    const ProductEntry& last_entry() const { return lastEntry_; }
    // Pictures of the last processed product that could not be fetched or saved.
    int last_failed_pictures() const { return lastFailedPictures_; }
    int credential_cursor() const;
    // GBK; "接口密钥被拒绝：" and the platform's message when the last product's answer, after
    // every key pair was tried, said the key or signature was refused; else empty.
    const std::string& last_key_refusal() const { return lastKeyRefusal_; }
    // GBK; why the run cannot go on (the source can fetch nothing more), else empty.
    const std::string& run_end() const { return runEnd_; }
    // The source file's row of the last product that made a package row (UTF-8, LF).
    const std::string& last_source_line() const { return lastSourceLine_; }

private:
    struct Ahead;
    class AnswerThread;
    bool proceed() const;
    // Row n - 1 of the list as it reads now.
    ProductEntry list_entry(int n) const;
    FetchTurn turn_for(int n, std::function<void(const std::string&)> log);
    OfferFetch fetch_now(std::string_view offerId, const ProductContext& context);
    void fetch_ahead(int n);

    int worker_;
    RunEnvironment env_;
    std::unique_ptr<OfferSource> source_;
    // After source_: it ends first, so no request of it outlives the source.
    std::unique_ptr<AnswerThread> answers_;
    std::shared_ptr<Ahead> ahead_;
    int lastProduct_ = 0;
    int lastFailedPictures_ = 0;
    ProductEntry lastEntry_;
    std::string lastKeyRefusal_;
    std::string runEnd_;
    std::string lastSourceLine_;
    DescriptionMatchers matchers_;
};

}  // namespace vq
