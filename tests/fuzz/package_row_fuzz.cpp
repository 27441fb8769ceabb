// libFuzzer target: an offer.get answer of any bytes, extracted and made into a package row
// in both formats, reads back under strict quoting into exactly its column count.
#include <cstddef>
#include <cstdint>
#include <string>

#include "api/offer_extraction.hpp"
#include "content/description.hpp"
#include "fuzz_check.hpp"
#include "output/package_check.hpp"
#include "output/package_writer.hpp"
#include "support/xml_document.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const int format : {4, 5}) {
        vq::XmlDocument answer;
        answer.load_bytes(bytes);
        vq::OfferRecord record;
        record.offerId = std::string(bytes.substr(0, 12));
        vq::extract_offer_fields(answer, format, record);
        record.description = vq::rewrite_description_text(
            answer.node_text(std::string(vq::kAnswerPrefix) + "details"));
        record.pictureList = "a:1:0:|;";
        const std::string row = vq::build_package_row(record, format);
        const vq::PackageTable table = vq::read_package_table(vq::package_file_bytes(format, row));
        FUZZ_CHECK(table.format == format);
        FUZZ_CHECK(table.headerMatches);
        FUZZ_CHECK(table.records.size() == 1);
        FUZZ_CHECK(table.records[0].error.empty());
        FUZZ_CHECK(static_cast<int>(table.records[0].fields.size()) ==
                   vq::package_field_count(format));
    }
    return 0;
}
