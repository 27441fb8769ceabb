// libFuzzer target: any bytes load (or fail) and answer lookups and removals without a crash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.hpp"
#include "support/xml_document.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vq::XmlDocument doc;
    doc.load_bytes(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<std::string> names;
    for (const char* path :
         {"@1", "@1/@1", "@1/@1/@2", "rsp/Responses/Response", "@1/@2/@1", "@1/msg",
          "rsp/Responses/Response/Result/result/toReturn/subject",
          "rsp/Responses/Response/Result/result/toReturn/skuPics/@1/@1"}) {
        doc.node_text(path);
        const int children = doc.child_count(path);
        doc.child_names(path, names);
        FUZZ_CHECK(children >= 0);
        doc.attribute_text(path, "@1");
    }
    // Lists are read by taking their first element away until none is left.
    const char* list = "rsp/Responses/Response/Result/result/toReturn/imageList";
    for (int guard = 0; doc.child_count(list) > 0 && guard < 100000; ++guard) {
        if (!doc.remove_node(list)) break;
    }
    doc.remove_node("@1/@1");
    doc.node_text("@1/@1");
    return 0;
}
