#include "app/startup.hpp"

#include "net/http_client.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"
#include "support/xml_document.hpp"

namespace vq {

int load_remote_configuration(BatchState& state, std::string_view config_server) {
    const std::string body =
        fetch_via_request_object(std::string(config_server) + "/logo.xml");
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
