#pragma once
// Start-up logic shared by the window and the command line: the remote configuration with
// the API key pairs, the default output path and the derivation of the package folder.

#include <string>
#include <string_view>

#include "model/batch_model.hpp"
#include "support/clock.hpp"

namespace vq {

// Where the configuration document comes from. config_server is a web address, or a local
// file holding the document: a file:// address or a plain path, a relative one taken from
// the folder of the site.ini that named it.
struct ConfigurationSource {
    bool local = false;
    std::string location;  // GBK: the file's path, or the address fetched
};
ConfigurationSource configuration_source(std::string_view config_server,
                                         std::string_view site_ini = {});

// Reads the configuration document (a web server's config_server + "/logo.xml" with the
// scripted client, or the local file) and appends the "appkey" / "appsecret" attributes of
// every child of the root element to the state's credentials. Returns the number of pairs
// now held; 0 means start-up cannot go on.
int load_remote_configuration(BatchState& state, std::string_view config_server,
                              std::string_view site_ini = {});

// The line shown under the load failure message: the source tried and the site.ini that
// named it (GBK).
std::string configuration_source_note(std::string_view config_server, std::string_view site_ini);

// program folder + "/aliT" + seconds stamp + ".csv"
std::string default_output_path(std::string_view program_folder,
                                 const Clock& clock = system_clock());

struct OutputPathChoice {
    bool ok = false;
    std::string path;     // the path to show in the box (".csv" appended when it had no ".")
    std::string folder;   // up to and including the last separator
    std::string name;     // file name up to its first "."
    std::string message;  // GBK "请检查文件名是否正确！" when the name came out empty
};

// Derives the package folder and name from a chosen path. On failure path is empty (the
// output box is emptied) and message says why.
OutputPathChoice derive_output_path(std::string_view chosen);

}  // namespace vq
