#pragma once
// The column tables of the package formats: each column's names, where its value comes
// from and how it is written, and each format's separator, line ends, encoding and header.
// The writer, the check and the tests all read these tables.

#include <string>
#include <string_view>
#include <vector>

#include "model/offer_record.hpp"
#include "model/package_format.hpp"

namespace vq {

// Where a column's value comes from.
enum class ColumnSource {
    Constant,          // Column::constant
    Title,
    CategoryId,        // postCategryId
    RetailPrice,
    Amount,
    AmountOnSale,
    TermOfferProcess,
    FreightTemplateId,
    SendGoodsId,
    OfferId,
    UnitWeight,
    UnitWeightOrZero,  // the unit weight, "0.000" when the answer has none
    Description,
    MainPictures,      // "name:1:position:|;" per main picture
    ItemSkus,          // "price:quantity:outer id:properties;" per item SKU, then ";"
    Features,          // the 1688 attribute JSON, with price ranges, unit and retail price
    Skus,              // the 1688 SKU JSON
    SkuPictures,       // the 1688 SKU picture JSON
    PriceRanges,       // "start:price`" per range
};

enum class Quoting {
    Bare,    // as it is, unless the value would break the field: then quoted
    Quoted,  // always in quotes, inner quotes doubled; an empty value is ""
};

struct PackageColumn {
    std::string_view english;
    std::string_view chinese;  // UTF-8 here; GBK in the header
    ColumnSource source;
    Quoting quoting;
    std::string_view constant = {};  // the value of a Constant column
};

struct PackageLayout {
    PackageFormat format;
    char separator;
    std::string_view rowEnd;
    std::string_view headerLineEnd;
    bool utf16;             // UTF-16LE after FF FE; GBK otherwise
    bool closingZeroUnit;   // the table ends with one zero code unit
    std::string_view firstLine;  // the header's first line, without its line end
    std::vector<PackageColumn> columns;

    int field_count() const { return static_cast<int>(columns.size()); }
    // The first column taking its value from source; -1 when none does.
    int column_of(ColumnSource source) const;
    // The three header lines as GBK text, each with the header's line end.
    const std::string& header_text() const { return header; }

    std::string header;  // made from the lines above when the layout is made
};

const PackageLayout& package_layout(PackageFormat format);

// The value a column of the format holds for the offer, as plain GBK text (quoting not
// applied yet).
std::string column_value(const PackageColumn& column, const OfferRecord& record);

// The offer's row in the format as GBK text: every field written as its column says, the
// row end after it. A byte that starts no whole GBK character, and a NUL byte, become "?".
std::string render_package_row(const OfferRecord& record, PackageFormat format);

// Columns whose values follow the supplier's prices, amounts and SKUs.
bool follows_supplier(ColumnSource source);

// A row of the package brought up to date: the columns that follow the supplier from the
// fresh offer, every other column's value as the row had it (fields: the row's values, GBK,
// as a strict reader gives them), written as the format writes them.
std::string updated_package_row(const std::vector<std::string>& fields, const OfferRecord& fresh,
                                PackageFormat format);

}  // namespace vq
