// libFuzzer target: a listing page of any bytes is scanned with all four templates; every
// row it gives has an offer id and an address.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.hpp"
#include "source/listing_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vq::ListingScanner scanner;  // compiled once, as a reader keeps it
    const std::string page =
        vq::page_text(std::string(reinterpret_cast<const char*>(data), size));
    const vq::ListingPage result = scanner.scan(page, "item.host");
    for (const vq::ProductEntry& row : result.rows) {
        FUZZ_CHECK(!row.offerId.empty());
        FUZZ_CHECK(!row.address.empty());
    }
    FUZZ_CHECK(static_cast<int>(result.rows.size()) <= result.itemMatches);
    return 0;
}
