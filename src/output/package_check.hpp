#pragma once
// Reading a package back as the seller assistant does (strict quoting), and checking it
// before upload: header, field counts, and every picture a row names.

#include <string>
#include <string_view>
#include <vector>

#include "model/package_format.hpp"

namespace vq {

// One record of a package table under strict quoting. Fields are GBK.
struct PackageRecord {
    int line = 0;  // 1-based line of the file where the record starts
    std::size_t start = 0;  // offset in the table's GBK text where the record starts
    std::vector<std::string> fields;
    std::string error;  // GBK; empty when the record obeys strict quoting
};

// A package table split into records; the format follows from the first bytes: FF FE is
// UTF-16LE and TAB-separated, format 6 when its first line is "version 1.00" and format 4
// otherwise; "version " is format 5 (GBK, comma-separated).
struct PackageTable {
    int format = 0;  // 4, 5 or 6; 0: the bytes are not a package table
    bool headerMatches = false;
    // The first strict-quoting fault of the header records (GBK; empty when none). A strict
    // reader refuses the file for it; it also takes rows into the header.
    std::string headerError;
    // Format 4: the closing zero unit is there; format 6: no zero unit cuts the text short.
    bool terminated = true;
    std::vector<PackageRecord> records;   // the rows, header records excluded
    // The first byte the table's encoding cannot read (format 5: GBK, format 4: UTF-16LE),
    // as an offset in the file; npos when every byte reads. A strict reader refuses the
    // whole file for it.
    std::size_t badByte = std::string_view::npos;
    std::string badBytes;  // the byte (format 4: the code unit) found there
    int badRecord = 0;     // the row record holding it (1-based); 0: a header line
    int badLine = 0;       // the file line holding it; 0 when past the closing zero unit
};

// Splits table bytes into the header and the row records. A quoted field may hold
// separators and line breaks; "" inside it is one quote; a quote must be followed by the
// separator or the end of the line; an unquoted field may not hold a quote; a quoted
// field must be closed. Breaking any of these is recorded on the record, and reading
// goes on. The whole file is also decoded strictly in its encoding, and the first byte
// that does not decode is recorded on the table.
PackageTable read_package_table(std::string_view bytes);

// The same one row record at a time, so that a large package is never held as records.
// table() holds the facts of the table (its records stay empty) once constructed, but for
// badRecord and badLine, which are known once the record holding the bad byte has been
// read, and at the latest once next() has returned false. bytes must outlive the reader.
class PackageTableReader {
public:
    explicit PackageTableReader(std::string_view bytes);
    PackageTableReader(const PackageTableReader&) = delete;  // text() may point into it
    PackageTableReader& operator=(const PackageTableReader&) = delete;
    const PackageTable& table() const { return table_; }
    // The table's GBK text, which the records' start offsets index.
    std::string_view text() const { return text_; }
    // The next row record into record; false at the end of the table. Without keep_fields
    // the fields are left empty (only their number is kept), for reads that count.
    bool next(PackageRecord& record, bool keep_fields = true);
    // Where the record last read ends in text() (the next one's start).
    std::size_t position() const { return i_; }

private:
    bool read_next(PackageRecord& record, bool keep_fields);
    PackageTable table_;
    std::string decoded_;  // the UTF-16 formats' text
    std::string_view text_;
    char separator_ = ',';
    std::size_t i_ = 0;
    int line_ = 1;
    int rowsRead_ = 0;
    bool inHeader_ = true;
    std::size_t badAt_;     // the bad byte's offset in text, while its line is not known
    bool badPending_ = false;
};

// Fields of a row in the format: 48 (format 5), 25 (format 4) or 63 (format 6).
int package_field_count(PackageFormat format);

// Longest title the seller platform takes: 30 Chinese characters.
inline constexpr std::size_t kMostTitleBytes = 60;

struct PackageCheck {
    bool readable = false;  // false: the file could not be read as a package table
    int format = 0;
    int rows = 0;
    int mainPictures = 0;
    int localPictures = 0;   // description pictures pointing at files of the package
    int remotePictures = 0;  // description pictures still at their web address
    std::vector<std::string> problems;  // GBK, one line per problem, naming row and picture
    std::string summary;                // GBK, one line
    // What uploads but may need a look: titles longer than kMostTitleBytes. GBK, one line
    // per row, and one summary line (empty when there is nothing). Not problems: they
    // leave clean() and the summary as they are.
    std::vector<std::string> warnings;
    std::string warningSummary;

    bool clean() const { return readable && problems.empty(); }
};

// Checks the table at table_path and the pictures it names in package_folder (the folder
// beside the table): header bytes, the field count of every row under strict quoting,
// every main picture (named once in the package, present, not empty, a picture by its
// first bytes) and every local description picture (present, not empty). Description
// pictures still at a web address are counted, not reported. Titles over kMostTitleBytes
// are warned of. GBK paths. new_rows >= 0: only the last new_rows rows are new (a run added
// them); the rows before were checked when written, and are read for whether the file
// reads whole and for the ids and main picture names a new row must not repeat. The
// summary then says how many rows were checked.
PackageCheck check_package(std::string_view table_path, std::string_view package_folder,
                           int new_rows = -1);

}  // namespace vq
