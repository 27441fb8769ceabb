// vq add: fills a product list file from an address.

#include "cli/commands.hpp"

namespace vq::cli {

int add_command(const std::vector<std::string>&) { return 2; }

}  // namespace vq::cli
