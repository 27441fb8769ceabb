#pragma once
// What every command of the command line shares: the program folder, the site settings,
// and paths given on the command line (UTF-8) turned into the system's GBK paths.

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "app/program_folder.hpp"

namespace vq::cli {

// program_folder, absolute_gbk_path and load_site come from the core.
using vq::absolute_gbk_path;
using vq::load_site;
using vq::program_folder;

// Opens the --log file (a command-line path) for the raw GBK log lines. An empty option
// gives true and no file; false, after saying why, when it cannot be written.
bool open_log_file(std::string_view utf8_option, std::FILE*& file);

// Catches Ctrl-C (SIGINT) and SIGTERM while it lives, so that a command can stop its
// threads and leave its files as they were; the previous handlers come back afterwards.
class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;
    // True once a signal came while a catcher lived. Safe from any thread.
    static bool interrupted();

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

// Writes a GBK message as UTF-8 with a line break to stderr.
void print_error(std::string_view gbk);

}  // namespace vq::cli
