// libFuzzer target: any bytes must load (or fail) and answer lookups without a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/xml_document.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vq::XmlDocument doc;
    doc.load_bytes(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<std::string> names;
    for (const char* path : {"@1", "@1/@1", "@1/@1/@2", "rsp/Responses/Response", "@1/@2/@1"}) {
        doc.node_text(path);
        doc.child_count(path);
        doc.child_names(path, names);
        doc.attribute_text(path, "@1");
    }
    doc.remove_node("@1/@1");
    doc.node_text("@1/@1");
    return 0;
}
