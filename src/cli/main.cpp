// vq: the command-line front end over the core.

#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_common.hpp"
#include "cli/commands.hpp"

namespace {

constexpr const char* kUsage =
    "usage: vq <command> [options]\n"
    "commands:\n"
    "  add    add a product, a shop or a category list to a list file\n"
    "  copy   copy the products of a list file into an upload package\n"
    "  check  check a package before upload: its rows and every picture they name\n"
    "  auth   authorize your own app for today's product methods (once; the token is kept)\n"
    "  watch  fetch a package's offers again and say what the supplier changed\n";

// Listed by --help under the usage.
constexpr const char* kConventions =
    "\n"
    "vq help <command> or vq <command> --help shows a command's options and exit codes;\n"
    "vq --version shows the version. Help goes to standard output, errors to standard\n"
    "error; wrong arguments end every command with exit code 2.\n";

struct Command {
    std::string_view name;
    int (*run)(const std::vector<std::string>&);
};

constexpr Command kCommands[] = {
    {"add", vq::cli::add_command},
    {"copy", vq::cli::copy_command},
    {"check", vq::cli::check_command},
    {"auth", vq::cli::auth_command},
    {"watch", vq::cli::watch_command},
};

const Command* find_command(std::string_view name) {
    for (const Command& command : kCommands) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

int usage_error(const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "vq: %s\n", message.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed stdout pipe must end writes with an error, not the process mid-run.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) return usage_error("");
    const std::string first = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);

    if (first == "--help" || first == "-h") return vq::cli::print_help(kUsage, kConventions);
    if (first == "--version") return vq::cli::print_to_stdout("vq (VelmoraQuillet) " VQ_VERSION "\n");
    if (first == "help") {
        if (args.empty()) return vq::cli::print_help(kUsage, kConventions);
        const Command* command = args.size() == 1 ? find_command(args[0]) : nullptr;
        if (!command) return usage_error("help takes one command name");
        return command->run({"--help"});
    }
    const Command* command = find_command(first);
    if (!command) return usage_error("unknown command: " + first);
    return command->run(args);
}
