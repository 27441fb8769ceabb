#include "source/listing_reader.hpp"

namespace vq {}
