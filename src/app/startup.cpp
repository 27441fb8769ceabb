#include "app/startup.hpp"

#include <cctype>
#include <string>

#include "net/http_client.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"
#include "support/xml_document.hpp"

namespace vq {

namespace {

bool starts_with_scheme(std::string_view text, std::string_view scheme) {
    if (text.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return false;
    }
    return true;
}

std::string percent_decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

ConfigurationSource configuration_source(std::string_view config_server, std::string_view site_ini) {
    const std::string server = trim_blanks(config_server);
    if (starts_with_scheme(server, "http://") || starts_with_scheme(server, "https://")) {
        return {false, std::string(config_server) + "/logo.xml"};
    }
    std::string path = server;
    if (starts_with_scheme(server, "file://")) {
        std::string_view rest = std::string_view(server).substr(7);
        // "file://localhost/x" and "file:///x" both name /x.
        if (starts_with_scheme(rest, "localhost/")) rest.remove_prefix(9);
        path = percent_decoded(rest);
    } else if (!path.empty() && path.front() != '/') {
        const std::size_t slash = site_ini.rfind('/');
        if (slash != std::string_view::npos) path = std::string(site_ini.substr(0, slash + 1)) + path;
    }
    return {true, path};
}

std::string configuration_source_note(std::string_view config_server, std::string_view site_ini) {
    const ConfigurationSource source = configuration_source(config_server, site_ini);
    std::string note = "配置来源："_gbk + source.location;
    if (site_ini.empty()) return note + "（程序的默认地址）"_gbk;
    if (!file_exists(site_ini)) return note + "（"_gbk + std::string(site_ini) + " 不存在，使用默认地址）"_gbk;
    return note + "（由 "_gbk + std::string(site_ini) + " 指定）"_gbk;
}

int load_remote_configuration(BatchState& state, std::string_view config_server,
                              std::string_view site_ini) {
    const ConfigurationSource source = configuration_source(config_server, site_ini);
    const std::string body = source.local ? read_file_bytes(source.location, kMostSettingsBytes).value_or("")
                                          : fetch_via_request_object(source.location);
    // A failed fetch or an unparsable body leaves a document where nothing resolves.
    XmlDocument document;
    document.load_bytes(body);

    std::vector<ApiCredential> pairs = state.credentials();
    const int count = document.child_count("@1");
    for (int i = 1; i <= count; ++i) {
        const std::string path = "@1/@" + std::to_string(i);
        pairs.push_back({document.attribute_text(path, "appkey"),
                         document.attribute_text(path, "appsecret")});
    }
    const int held = static_cast<int>(pairs.size());
    state.set_credentials(std::move(pairs));
    return held;
}

std::string default_output_path(std::string_view program_folder, const Clock& clock) {
    std::string path(program_folder);
    if (path.empty() || path.back() != '/') path += '/';
    return path + "aliT" + unix_seconds_text(clock) + ".csv";
}

OutputPathChoice derive_output_path(std::string_view chosen) {
    OutputPathChoice choice;
    std::string path(chosen);
    if (!contains_text(path, ".")) path += ".csv";

    const int slash = find_last_text(path, "/");
    const std::string file_part = slash > 0 ? path.substr(static_cast<std::size_t>(slash)) : path;
    choice.folder = slash > 0 ? path.substr(0, static_cast<std::size_t>(slash)) : std::string();
    // A dot only in a folder name leaves the file name without one: no usable name.
    choice.name = text_before(file_part, ".");

    if (choice.name.empty()) {
        choice.message = "请检查文件名是否正确！"_gbk;
        return choice;
    }
    choice.ok = true;
    choice.path = std::move(path);
    return choice;
}

}  // namespace vq
