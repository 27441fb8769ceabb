#pragma once
// What every command of the command line shares: the program folder, the site settings,
// and paths given on the command line (UTF-8) turned into the system's GBK paths.

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

// Writes a GBK message as UTF-8 with a line break to stderr.
void print_error(std::string_view gbk);

}  // namespace vq::cli
