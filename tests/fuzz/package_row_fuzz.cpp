// libFuzzer target: an offer.get answer of any bytes, extracted and made into a package row
// in every format, with and without price and title rules whose texts hold quotes,
// separators and the quote placeholder, reads back under strict quoting into exactly its
// column count.
#include <cstddef>
#include <cstdint>
#include <string>

#include "api/offer_extraction.hpp"
#include "content/description.hpp"
#include "fuzz_check.hpp"
#include "output/package_check.hpp"
#include "output/package_writer.hpp"
#include "support/xml_document.hpp"

namespace {

vq::ListingRules hostile_rules() {
    vq::ListingRules rules;
    rules.priceFactor = {15, 1};
    rules.priceAdd = {-25, 1};
    rules.priceEnding = vq::PriceEnding::NinetyNine;
    rules.titlePrefix = "\"新\",";
    rules.titleSuffix = "|*|";
    rules.titleReplacements = {{"a", "\"\""}, {"*", ""}, {",", "|"}};
    return rules;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    static const vq::ListingRules ruled = hostile_rules();
    for (const int format : {4, 5, 6, -4, -5, -6}) {
        const vq::ListingRules& rules = format < 0 ? ruled : vq::ListingRules{};
        const vq::PackageFormat f = *vq::format_from_number(format < 0 ? -format : format);
        vq::XmlDocument answer;
        answer.load_bytes(bytes);
        vq::OfferRecord record;
        record.offerId = std::string(bytes.substr(0, 12));
        vq::extract_offer_fields(answer, f, record, rules);
        record.description = vq::rewrite_description_text(
            answer.node_text(std::string(vq::kAnswerPrefix) + "details"));
        record.mainPictures = {"a"};
        const std::string row = vq::build_package_row(record, f);
        const vq::PackageTable table = vq::read_package_table(vq::package_file_bytes(f, row));
        FUZZ_CHECK(table.format == vq::format_number(f));
        FUZZ_CHECK(table.headerMatches);
        FUZZ_CHECK(table.records.size() == 1);
        FUZZ_CHECK(table.records[0].error.empty());
        FUZZ_CHECK(static_cast<int>(table.records[0].fields.size()) ==
                   vq::package_field_count(f));
    }
    return 0;
}
