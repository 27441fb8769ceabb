#include "app/list_commands.hpp"

namespace vq {}
