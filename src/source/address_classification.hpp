#pragma once
// "添加到列表": what the typed address is and what to do with it. A product page becomes
// one list row; a shop or a category/search list is counted and handed to the listing
// readers.

#include <string>
#include <string_view>

#include "model/batch_model.hpp"
#include "model/product_list.hpp"
#include "source/listing_reader.hpp"
#include "support/clock.hpp"

namespace vq {

enum class AddOutcome {
    Nothing,      // blank box or no address kind chosen: nothing logged
    NotFound,     // the log says why nothing was added
    RowAdded,     // a single product was appended
    JobStarted,   // readers run; wait on the ListingReaders for their end
    JobRefused,   // readers of an earlier job still run; logged, nothing fetched
    Failed,       // the page could not be fetched after its tries; logged
};

struct AddAddressPorts {
    ProductList* list = nullptr;
    LogSink* log = nullptr;
    const Clock* clock = nullptr;  // log time stamps; the system clock when null
    ListingReaders* readers = nullptr;
};

// The command: address as typed in the address box, and the mode chosen (None does
// nothing). Blocks while it fetches (bounded by the HTTP time-out; a stop of the
// calling thread's CancelScope aborts it) and returns once a job's readers are started,
// without waiting for them. The product-detail and item hosts come from the current site
// settings. May run on any thread; one call at a time.
AddOutcome add_address_to_list(std::string_view address, AddressMode mode,
                               const AddAddressPorts& ports);

// Numeric value of a page-count text: its leading decimal number after full-width digits
// and signs are made half-width; 0 when there is none.
double page_count_value(std::string_view text);

// The same as an integer (the leading whole number); 0 when there is none.
int page_count_integer(std::string_view text);

}  // namespace vq
