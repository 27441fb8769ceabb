#pragma once
// Today's product answers (JSON) of the stand-in: the same catalogue product that offer.get
// describes, in the current product model. Numbers go out as JSON numbers and ids as Longs,
// as the platform's model types them; main pictures on img.localhost are paths relative to
// the picture host, those on another host whole addresses.

#include <string>
#include <string_view>

#include "marketplace-sim/catalogue.hpp"

namespace vq::sim {

enum class ProductShape { Cross, Fenxiao };

// The whole answer document (UTF-8): productInfo with its groups, and success.
std::string product_json(const Product& product, int port, ProductShape shape,
                         std::string_view status);

}  // namespace vq::sim
