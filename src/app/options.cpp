#include "app/options.hpp"

namespace vq {}  // namespace vq
