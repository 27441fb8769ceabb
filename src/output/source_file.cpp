#include "output/source_file.hpp"

#include <cstdio>
#include <unordered_set>

#include "model/batch_model.hpp"
#include "output/package_check.hpp"
#include "output/package_layout.hpp"
#include "support/encoding.hpp"
#include "support/text.hpp"
#include "support/xml_document.hpp"

namespace vq {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kHeader =
    "offer_id\taddress\tfetched_at\tstatus\ttitle\tretail_price\tprice_ranges\tamount_on_sale\t"
    "skus\tprice_rule";
constexpr std::size_t kFields = 10;

std::string utf8(std::string_view gbk) { return gbk_to_utf8(gbk); }

// "a:b;c:d;" pieces, each split at ":".
std::vector<std::vector<std::string>> pieces(std::string_view text) {
    std::vector<std::vector<std::string>> out;
    for (const std::string& piece : split_text(text, ";")) {
        if (!piece.empty()) out.push_back(split_text(piece, ":"));
    }
    return out;
}

std::string offer_id_of(std::string_view line) { return std::string(line.substr(0, line.find('\t'))); }

}  // namespace

SourceEntry source_entry(const OfferRecord& r, std::string_view addressGbk, const LocalDateTime& at,
                         std::string_view statusGbk, const ListingRules& rules) {
    SourceEntry e;
    e.offerId = r.offerId;
    e.address = utf8(addressGbk);
    char when[32];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", at.year, at.month, at.day,
                  at.hour, at.minute, at.second);
    e.fetchedAt = when;
    e.status = utf8(statusGbk);
    // The answer's own escaping undone: the title as the supplier wrote it.
    e.title = utf8(decode_xml_entities(r.title));
    e.retailPrice = r.retailPrice;
    e.priceRanges = r.priceRanges;
    e.amountOnSale = r.amountOnSale;
    for (const OfferSku& sku : r.skus) e.skus.push_back({utf8(sku.specId), sku.price, sku.amountOnSale});
    e.priceRule = "factor=" + decimal_text(rules.priceFactor) + ";add=" + decimal_text(rules.priceAdd) +
                  ";ending=" + std::string(price_ending_name(rules.priceEnding));
    return e;
}

std::string source_line(const SourceEntry& e) {
    std::string ranges, skus;
    for (const PriceRange& r : e.priceRanges) ranges += r.startQuantity + ":" + r.price + ";";
    for (const SourceSku& s : e.skus) skus += s.specId + ":" + s.price + ":" + s.amount + ";";
    const std::string values[kFields] = {e.offerId,     e.address, e.fetchedAt,    e.status, e.title,
                                         e.retailPrice, ranges,    e.amountOnSale, skus,     e.priceRule};
    std::string line;
    for (std::size_t i = 0; i < kFields; ++i) {
        if (i > 0) line += '\t';
        line += tsv_field(values[i]);
    }
    return line + "\n";
}

std::string tsv_field(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

std::string source_file_path(const std::string& packageFolder) { return packageFolder + ".source.tsv"; }

namespace {

// The header line of a source file, without its line end; nothing when bytes has none.
std::optional<std::string_view> header_line(std::string_view bytes) {
    if (bytes.substr(0, kBom.size()) == kBom) bytes.remove_prefix(kBom.size());
    const std::string_view first = bytes.substr(0, bytes.find('\n'));
    if (trim_right_blanks(first) != kHeader) return std::nullopt;
    return first;
}

// Calls each(line) for the lines after the header, without their "\n".
template <typename Each>
void for_each_row_line(std::string_view bytes, Each each) {
    std::size_t at = bytes.find('\n');
    while (at != std::string_view::npos && at + 1 < bytes.size()) {
        const std::size_t from = at + 1;
        at = bytes.find('\n', from);
        each(bytes.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    }
}

}  // namespace

std::string source_file_bytes(const std::optional<std::string>& existing, const std::string& newRows) {
    std::string out = std::string(kBom) + std::string(kHeader) + "\n";
    if (existing && header_line(*existing)) {
        // An offer fetched again is kept as it is now: its old line goes.
        std::unordered_set<std::string> fresh;
        for (const std::string& line : split_text(newRows, "\n")) {
            if (!line.empty()) fresh.insert(offer_id_of(line));
        }
        out.reserve(out.size() + existing->size() + newRows.size());
        for_each_row_line(*existing, [&](std::string_view line) {
            if (!line.empty() && !fresh.contains(offer_id_of(line))) {
                out.append(line).append("\n");
            }
        });
    }
    out.append(newRows);
    return out;
}

std::optional<SourceFile> read_source_file(std::string_view bytes) {
    if (bytes.substr(0, kBom.size()) == kBom) bytes.remove_prefix(kBom.size());
    const std::vector<std::string> lines = split_text(bytes, "\n");
    if (lines.empty() || trim_right_blanks(lines[0]) != kHeader) return std::nullopt;
    SourceFile file;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string line = lines[i];
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        std::vector<std::string> f = split_text(line, "\t");
        if (line.back() == '\t') f.emplace_back();  // an empty last field
        if (f.size() != kFields || !is_offer_id(f[0])) {
            file.unreadableLines.push_back(static_cast<int>(i + 1));
            continue;
        }
        SourceEntry e;
        e.offerId = f[0];
        e.address = f[1];
        e.fetchedAt = f[2];
        e.status = f[3];
        e.title = f[4];
        e.retailPrice = f[5];
        for (const auto& p : pieces(f[6])) {
            if (p.size() == 2) e.priceRanges.push_back({p[0], p[1]});
        }
        e.amountOnSale = f[7];
        for (const auto& p : pieces(f[8])) {
            if (p.size() == 3) e.skus.push_back({p[0], p[1], p[2]});
        }
        e.priceRule = f[9];
        file.entries.push_back(std::move(e));
    }
    return file;
}

std::vector<SourceEntry> entries_from_package(std::string_view tableBytes) {
    std::vector<SourceEntry> entries;
    const PackageTable table = read_package_table(tableBytes);
    const std::optional<PackageFormat> format =
        table.format == 0 ? std::nullopt : format_from_number(table.format);
    if (!format) return entries;
    const PackageLayout& layout = package_layout(*format);
    const auto column = [&](ColumnSource source) { return layout.column_of(source); };
    const auto field = [](const PackageRecord& r, int k) {
        return k >= 0 && static_cast<std::size_t>(k) < r.fields.size() ? r.fields[static_cast<std::size_t>(k)]
                                                                         : std::string();
    };
    for (const PackageRecord& r : table.records) {
        SourceEntry e;
        e.offerId = field(r, column(ColumnSource::OfferId));
        if (!is_offer_id(e.offerId)) continue;
        e.fromPackage = true;
        e.title = utf8(field(r, column(ColumnSource::Title)));
        e.retailPrice = field(r, column(ColumnSource::RetailPrice));
        e.amountOnSale = field(r, column(ColumnSource::AmountOnSale));
        // "start:price`" per range.
        for (const std::string& range : split_text(field(r, column(ColumnSource::PriceRanges)), "`")) {
            const std::size_t colon = range.find(':');
            if (colon != std::string::npos) e.priceRanges.push_back({range.substr(0, colon), range.substr(colon + 1)});
        }
        entries.push_back(std::move(e));
    }
    return entries;
}

ListingRules price_rule_of(const SourceEntry& entry) {
    ListingRules rules;
    for (const auto& p : pieces(entry.priceRule)) {
        if (p.size() != 1) continue;
        const std::string& item = p[0];
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = item.substr(0, eq), value = item.substr(eq + 1);
        if (name == "factor") {
            if (auto v = parse_price_factor(value)) rules.priceFactor = *v;
        } else if (name == "add") {
            if (auto v = parse_price_add(value)) rules.priceAdd = *v;
        } else if (name == "ending") {
            for (const PriceEnding e : {PriceEnding::None, PriceEnding::Yuan, PriceEnding::Nine,
                                        PriceEnding::NinetyNine}) {
                if (price_ending_name(e) == value) rules.priceEnding = e;
            }
        }
    }
    return rules;
}

}  // namespace vq
