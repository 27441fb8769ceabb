#include "output/package_writer.hpp"

namespace vq {}  // namespace vq
