// vq: the command-line front end over the core.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.hpp"

namespace {

constexpr const char* kUsage =
    "usage: vq <command> [options]\n"
    "commands:\n"
    "  add    add a product, a shop or a category list to a list file\n"
    "  copy   copy the products of a list file into an upload package\n"
    "  check  check a package before upload: its rows and every picture they name\n";

}  // namespace

int main(int argc, char** argv) {
    // A closed stdout pipe must end writes with an error, not the process mid-run.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    if (std::strcmp(argv[1], "add") == 0) return vq::cli::add_command(args);
    if (std::strcmp(argv[1], "copy") == 0) return vq::cli::copy_command(args);
    if (std::strcmp(argv[1], "check") == 0) return vq::cli::check_command(args);
    std::fputs(kUsage, stderr);
    return 2;
}
