#pragma once
// The commands of `vq`. Each takes the arguments after its name and returns the exit code.

#include <string>
#include <vector>

namespace vq::cli {

int copy_command(const std::vector<std::string>& args);
int add_command(const std::vector<std::string>& args);
int check_command(const std::vector<std::string>& args);
int auth_command(const std::vector<std::string>& args);
int watch_command(const std::vector<std::string>& args);

}  // namespace vq::cli
