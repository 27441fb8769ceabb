#include "content/pictures.hpp"

namespace vq {}  // namespace vq
