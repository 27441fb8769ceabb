#include "api/offer_extraction.hpp"

namespace vq {}  // namespace vq
