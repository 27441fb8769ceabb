#pragma once
// What every command of the command line shares: the program folder, the site settings,
// and paths given on the command line (UTF-8) turned into the system's GBK paths.

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/site_settings.hpp"
#include "app/program_folder.hpp"
#include "model/batch_model.hpp"

namespace vq::cli {

// program_folder, absolute_gbk_path and load_site come from the core.
using vq::absolute_gbk_path;
using vq::load_site;
using vq::program_folder;

// Opens the --log file (a command-line path) for the raw GBK log lines. An empty option
// gives true and no file; false, after saying why, when it cannot be written.
bool open_log_file(std::string_view utf8_option, std::FILE*& file);

// Catches Ctrl-C (SIGINT) and SIGTERM while it lives, so that a command can stop its
// threads and leave its files whole; the previous handlers come back afterwards. A second
// signal within a second of the one before ends the process at once (exit 130), writing
// nothing more: files replaced atomically are then the old ones or the new ones.
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

// The key pairs from the configuration document (or the user's key file) into state; false,
// after saying why and where they were looked for, when none came.
bool load_key_pairs_or_say(BatchState& state, const SiteSettings& site);

// Writes a GBK message as UTF-8 with a line break to stderr.
void print_error(std::string_view gbk);

// Names a list file's lines that are no row ("列表文件第 N 行无法识别：PATH", at most 20,
// then the count); true when there were any.
bool print_unreadable_lines(const std::vector<int>& lines, std::string_view gbk_path);

// True when a command's arguments ask for its help ("--help" or "-h" anywhere), which then
// wins over everything else on the line.
bool asks_for_help(const std::vector<std::string>& args);

// Prints a command's usage and its exit codes to stdout. Returns the exit code: 0, or 2
// when stdout could not take the text.
int print_help(std::string_view usage, std::string_view exit_codes);

// Writes text to stdout and flushes it: 0, or 2 after saying so on stderr when stdout
// could not take it (a full disk, a closed pipe).
int print_to_stdout(std::string_view text);

}  // namespace vq::cli
