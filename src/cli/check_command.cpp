// vq check: reads a package back as the seller assistant would and reports what would make
// its upload fail or look wrong.

#include <cstdio>

#include "app/startup.hpp"
#include "cli/arguments.hpp"
#include "cli/cli_common.hpp"
#include "cli/commands.hpp"
#include "cli/console.hpp"
#include "output/package_check.hpp"
#include "support/gbk_literal.hpp"

namespace vq::cli {

namespace {

// Listed by --help under the usage.
constexpr const char* kExitCodes =
    "exit codes: 0 nothing wrong\n"
    "            1 problems found (one line each, then the summary)\n"
    "            2 bad arguments, or the file cannot be read as a package\n";

}  // namespace

int check_command(const std::vector<std::string>& args) {
    std::string path;
    CommandLine line("check", kExitCodes);
    line.app()
        .add_option("PACKAGE.csv", path,
                    "the package table; its pictures are looked for in the folder of its name "
                    "beside it")
        ->required()
        ->check(not_empty());
    if (const std::optional<int> code = line.parse(args)) return *code;
    const OutputPathChoice package = derive_output_path(absolute_gbk_path(path));
    if (!package.ok) {
        print_error(package.message);
        return 2;
    }
    const PackageCheck check = check_package(package.path, package.folder + package.name);
    if (!check.readable) {
        print_error(check.summary);
        return 2;
    }
    for (const std::string& problem : check.problems) {
        std::printf("%s\n", terminal_text(problem).c_str());
    }
    std::printf("%s\n", terminal_text(check.summary).c_str());
    // Warnings come after the summary and leave the exit code alone.
    for (const std::string& warning : check.warnings) {
        std::printf("%s\n", terminal_text(warning).c_str());
    }
    if (!check.warningSummary.empty()) {
        std::printf("%s\n", terminal_text(check.warningSummary).c_str());
    }
    std::fflush(stdout);
    return check.clean() ? 0 : 1;
}

}  // namespace vq::cli
