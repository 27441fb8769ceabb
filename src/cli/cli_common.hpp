#pragma once
// What every command of the command line shares: the program folder, the site settings,
// and paths given on the command line (UTF-8) turned into the system's GBK paths.

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace vq::cli {

// --home, else $VQ_HOME, else the folder of the running executable. GBK, no trailing "/".
std::string program_folder(std::string_view home_option);

// A command-line path (UTF-8, maybe relative) as an absolute GBK path.
std::string absolute_gbk_path(std::string_view utf8_path);

// Loads the site settings (--site, else <home>/options/site.ini) and makes them current.
void load_site(std::string_view site_option, std::string_view home);

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
