#include "app/startup.hpp"

namespace vq {}  // namespace vq
