#pragma once
// Where the program keeps its files, shared by the window and the command line: the
// program folder, the site settings in it, and paths given by the user (UTF-8) as the
// system's GBK paths.

#include <string>
#include <string_view>

namespace vq {

// home_option, else $VQ_HOME, else the folder of the running executable; an installed copy
// (in a system folder, or one the user cannot write to) uses user_program_folder() (made
// when missing) instead. GBK, no trailing "/".
std::string program_folder(std::string_view home_option);

// Whether an executable's folder (a native path) is where installed programs live (/usr,
// /bin, /sbin, /opt, /snap): never a place for the user's files, whoever runs it.
bool is_system_program_folder(std::string_view native_folder);

// $XDG_DATA_HOME/velmoraquillet, else $HOME/.local/share/velmoraquillet; empty when neither
// is set. GBK.
std::string user_program_folder();

// A user-given path (UTF-8, maybe relative) as an absolute GBK path.
std::string absolute_gbk_path(std::string_view utf8_path);

// Loads the site settings (site_option, else <home>/options/site.ini) and makes them
// current.
void load_site(std::string_view site_option, std::string_view home);

}  // namespace vq
