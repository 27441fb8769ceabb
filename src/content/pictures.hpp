#pragma once
// Main pictures of a product and picture type detection.

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "content/description.hpp"
#include "content/product_context.hpp"
#include "model/batch_model.hpp"
#include "net/http_client.hpp"
#include "support/xml_document.hpp"

namespace vq {

// Where pictures come from: the network, unless a test or a fuzz target puts something else
// in a product's context.
class PictureSource {
public:
    virtual ~PictureSource() = default;
    // The picture at url, staged in gbk_folder (see fetch_picture_into).
    virtual PictureFetch fetch(std::string_view url, std::string_view gbk_folder) = 0;
    // A fetched picture now saved whole at gbk_path.
    virtual void saved(const PictureFetch& /*picture*/, std::string_view /*gbk_path*/) {}
};

PictureSource& network_pictures();

// The context's source, else the network.
PictureSource& picture_source(const ProductContext& context);

// Renames a fetched picture into place and tells its source; false when it cannot.
bool save_picture(PictureFetch& picture, std::string_view gbk_path, const ProductContext& context);

// The pictures of one run, by the address they come from, so that each is fetched once per
// run: a request for one already saved is served from the saved file (hard-linked, or
// copied), and one for a picture another product is fetching waits for that transfer and
// shares its result. A failure is shared with those waiting but not kept, so a later
// request tries again. Thread-safe; an owner is the product (its picture source) that
// fetches.
class PictureCache {
public:
    PictureCache();
    ~PictureCache();
    PictureCache(const PictureCache&) = delete;
    PictureCache& operator=(const PictureCache&) = delete;

    enum class Claim { Fetch, Saved, Elsewhere };
    // Fetch: nobody else has the picture, and owner now fetches it for everyone (and must
    // end the claim with fetched() or abandon()). Saved, Elsewhere: take() will give it.
    Claim claim(std::string_view url, const void* owner);
    // The owner's transfer of url ended with picture: those waiting for it get it.
    void fetched(std::string_view url, const PictureFetch& picture, const void* owner);
    // The owner will not fetch url after all: those waiting fetch it themselves.
    void abandon(std::string_view url, const void* owner);
    // The picture staged in gbk_folder from what the run has of it, waiting for another
    // product's transfer when there is one (calling move_along meanwhile, which moves the
    // caller's own transfers and says whether any is under way); a shared failure is a
    // failed fetch. Nothing when the caller is to fetch it itself: it then holds the claim.
    std::optional<PictureFetch> take(std::string_view url, std::string_view gbk_folder,
                                     const void* owner, const std::function<bool()>& move_along);
    // A fetched picture now saved whole at gbk_path.
    void remember(const PictureFetch& picture, std::string_view gbk_path);
    // The run's products have ended: second names of pictures fetched and never saved go.
    void drop_unsaved();

private:
    struct Saved {
        std::string path;
        std::string head;
    };
    struct Flight;
    std::mutex mutex_;
    std::condition_variable landed_;
    std::unordered_map<std::string, Saved> saved_;
    std::unordered_map<std::string, std::shared_ptr<Flight>> flights_;
};

// The pictures of one product, fetched ahead side by side: the product's steps still ask
// for them one at a time, in their own order, and get exactly what a fetch at that moment
// would give (a picture expected twice, or asked for again after a failure, is fetched
// again as before). Requests of the run already saved come from the cache. One product, one
// thread.
class PrefetchedPictures final : public PictureSource {
public:
    // cache may be null; most: transfers at once.
    explicit PrefetchedPictures(PictureCache* cache, int most = 4);
    ~PrefetchedPictures() override;
    // Starts fetching url into gbk_folder unless the cache has it or it is already expected.
    void expect(std::string_view url, std::string_view gbk_folder);
    PictureFetch fetch(std::string_view url, std::string_view gbk_folder) override;
    void saved(const PictureFetch& picture, std::string_view gbk_path) override;

private:
    PictureCache* cache_;
    PictureBatch batch_;
    // Expected pictures not yet asked for, by wire address and folder.
    std::map<std::pair<std::string, std::string>, int> expected_;
};

// Expects, on source, the pictures the description step (when download_description) and the
// main picture step will ask for first, in the order they will ask.
void expect_product_pictures(PrefetchedPictures& source, const OfferRecord& record,
                             const ProductContext& context, bool download_description,
                             DescriptionMatchers& matchers);

// The file extension of a fetched picture, from its first bytes (detect_picture_type).
std::string picture_type(const PictureFetch& fetched);

// A file extension from the first bytes of a picture ("jpg", "gif", "png", ...; for an
// unknown header the hex rendering of up to 10 bytes followed by ".JPG"). Empties bytes.
std::string detect_picture_type(std::string& bytes);

// Saves every picture of record.mainPictureAddresses into the package folder as
// md5(millis + title + offerId) + ".ali" (format 4) or ".tbi" (formats 5, 6), and lists the
// saved pictures' names in record.mainPictures. The millis come
// from a never-repeating sequence, so no two pictures share a name. A picture that comes
// back empty is tried once more; if it is still empty, or its file cannot be written, it
// is logged, counted in record.failedPictures and left out of the list (positions stay
// contiguous). Only the first context.keepPictures pictures of the list are fetched when
// it is above 0. Logs its lines through the context.
void download_main_pictures(OfferRecord& record, const ProductContext& context);

}  // namespace vq
