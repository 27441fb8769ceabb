#include "source/address_classification.hpp"

namespace vq {}
