#pragma once
// What a run remembers of each packaged product's supplier: `<package>.source.tsv` beside the
// table (UTF-8 with a byte-order mark so a spreadsheet opens it, TAB between fields, one
// header line, LF). One row per packaged offer: the values the supplier gave, before the
// listing rules, and the price rule in force, so that a later look at the supplier can say
// what changed and what the listing price becomes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/listing_rules.hpp"
#include "model/offer_record.hpp"
#include "support/clock.hpp"

namespace vq {

struct SourceSku {
    std::string specId, price, amount;
};

// Texts are UTF-8.
struct SourceEntry {
    std::string offerId;
    std::string address;    // the list's address of the product
    std::string fetchedAt;  // "2026-12-10 09:30:00", local time
    std::string status;     // as the answer gave it; empty where the profile gives none
    std::string title;      // the supplier's, before the title rules
    std::string retailPrice;
    std::vector<PriceRange> priceRanges;
    std::string amountOnSale;
    std::vector<SourceSku> skus;
    std::string priceRule;  // "factor=1.2;add=-1;ending=.9"
    // Read from a package that has no source file: the prices are the package's own (after
    // its rules), the stock only where the package holds the amount on sale, no SKUs.
    bool fromPackage = false;
};

// The entry of an offer as the source gave it (no rules applied yet; GBK texts).
SourceEntry source_entry(const OfferRecord& unruled, std::string_view addressGbk,
                         const LocalDateTime& fetchedAt, std::string_view statusGbk,
                         const ListingRules& rules);

// A value as a field of these tab-separated files: TAB, CR and LF become blanks.
std::string tsv_field(std::string text);

// One row, LF ended; TAB, CR and LF inside values become blanks.
std::string source_line(const SourceEntry& entry);

std::string source_file_path(const std::string& packageFolder);

// The whole file: header, the rows of `existing` (a source file's bytes; ignored when it is
// none) whose offer is not among the new ones, then the new rows.
std::string source_file_bytes(const std::optional<std::string>& existing, const std::string& newRows);

struct SourceFile {
    std::vector<SourceEntry> entries;
    std::vector<int> unreadableLines;  // 1-based line numbers
};

// nullopt when the bytes are not a source file (no such header).
std::optional<SourceFile> read_source_file(std::string_view bytes);

// The entries of a package that has no source file, from its own rows (format 5 and 6:
// num_id, the price; format 4: offerId, the price ranges, the amount on sale). Empty when the
// bytes are no package.
std::vector<SourceEntry> entries_from_package(std::string_view tableBytes);

// The price rule an entry was listed under (the defaults where it says none).
ListingRules price_rule_of(const SourceEntry& entry);

}  // namespace vq
