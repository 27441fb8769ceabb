#include "content/description.hpp"

namespace vq {}  // namespace vq
