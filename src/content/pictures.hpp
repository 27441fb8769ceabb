#pragma once
// Main pictures of a product and picture type detection.

#include <string>

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
};

PictureSource& network_pictures();

// The context's source, else the network.
PictureSource& picture_source(const ProductContext& context);

// The file extension of a fetched picture, from its first bytes (detect_picture_type).
std::string picture_type(const PictureFetch& fetched);

// A file extension from the first bytes of a picture ("jpg", "gif", "png", ...; for an
// unknown header the hex rendering of up to 10 bytes followed by ".JPG"). Empties bytes.
std::string detect_picture_type(std::string& bytes);

// Saves every imageList picture of the answer into the package folder as
// md5(millis + title + offerId) + ".ali" (format 4) or ".tbi" (format 5), consuming the
// list, and builds record.pictureList ("name:1:position:|;" per picture). The millis come
// from a never-repeating sequence, so no two pictures share a name. A picture that comes
// back empty is tried once more; if it is still empty, or its file cannot be written, it
// is logged, counted in record.failedPictures and left out of the list (positions stay
// contiguous). Only the first context.keepPictures pictures of the list are fetched when
// it is above 0. Logs its lines through the context.
void download_main_pictures(XmlDocument& answer, OfferRecord& record,
                            const ProductContext& context);

}  // namespace vq
