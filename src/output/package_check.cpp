#include "output/package_check.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "content/pictures.hpp"
#include "output/package_layout.hpp"
#include "output/package_writer.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/regex_matcher.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

// Quote, separator and line-break bytes are never part of a GBK double-byte character, so
// the table is read byte by byte. Reads the record starting at i, leaving i at the next.
void read_record(std::string_view text, char separator, std::size_t& i, int& line,
                 PackageRecord& record, bool keep_fields) {
    const std::size_t n = text.size();
    record.line = line;
    record.start = i;
    record.fields.clear();
    record.error.clear();
    const auto at_field_end = [&] {
        return i >= n || text[i] == separator || text[i] == '\r' || text[i] == '\n';
    };
    const auto fault = [&record](std::string_view what) {
        if (record.error.empty()) record.error = what;
    };
    for (;;) {
        std::string field;
        if (text[i] == '"') {
            bool closed = false;
            // From quote to quote: descriptions are long quoted fields.
            for (++i; i < n;) {
                const std::size_t quote = std::min(text.find('"', i), n);
                const std::string_view run = text.substr(i, quote - i);
                line += static_cast<int>(std::count(run.begin(), run.end(), '\n'));
                if (keep_fields) field.append(run);
                i = quote;
                if (i >= n) break;
                if (i + 1 < n && text[i + 1] == '"') {
                    if (keep_fields) field += '"';
                    i += 2;
                    continue;
                }
                closed = true;
                ++i;
                break;
            }
            if (!closed) fault("引号没有闭合"_gbk);
            if (!at_field_end()) fault("引号后面紧跟着其他字符"_gbk);
        }
        const std::size_t from = i;
        while (!at_field_end()) {
            if (text[i] == '"') fault("未加引号的字段里有引号"_gbk);
            ++i;
        }
        if (keep_fields) field.append(text.substr(from, i - from));
        record.fields.push_back(std::move(field));
        if (i < n && text[i] == separator) {
            ++i;
            if (i < n) continue;
            record.fields.emplace_back();  // a separator ends the text: one more field
        }
        break;
    }
    if (i < n && text[i] == '\r') ++i;
    if (i < n && text[i] == '\n') ++i;
    ++line;
}

std::string number(std::size_t value) { return std::to_string(value); }

// "%XX" sequences of a local address back to their bytes.
std::string percent_decoded(std::string_view text) {
    const auto hex = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct FileLook {
    enum Kind { Missing, Outside, NotRegular, Found } kind = Missing;
    std::uintmax_t size = 0;
    std::string head;  // the first bytes
};

// Pictures of the package: regular files inside the package folder once ".." and links are
// resolved. A package names tens of thousands of pictures in a few folders, so each folder
// is resolved once and a picture costs one look (and one read for its first bytes).
class PictureLooker {
public:
    explicit PictureLooker(std::string_view gbk_folder) {
        std::error_code error;
        folder_ = std::filesystem::weakly_canonical(native_path(gbk_folder), error);
        if (error) folder_.clear();
    }

    // head_bytes: how many first bytes to read (0: none).
    FileLook look(std::string_view gbk_path, std::size_t head_bytes) {
        namespace fs = std::filesystem;
        FileLook look;
        const fs::path given(native_path(gbk_path));
        const fs::path name = given.filename();
        if (name.empty() || name == "." || name == "..") return look_resolving_all(given, head_bytes);
        const fs::path* parent = resolved_folder(given.parent_path());
        if (!parent) return look;
        const fs::path path = *parent / name;
        const PathLook at = look_at_path(path.native());
        if (at.kind == PathLook::Missing) return look;
        if (at.kind == PathLook::Link) return look_resolving_all(given, head_bytes);
        if (!inside(path)) {
            look.kind = FileLook::Outside;
        } else if (at.kind != PathLook::Regular) {
            look.kind = FileLook::NotRegular;
        } else {
            look.kind = FileLook::Found;
            look.size = at.size;
            if (head_bytes > 0) look.head = file_head(path.native(), head_bytes).value_or("");
        }
        return look;
    }

private:
    bool inside(const std::filesystem::path& resolved) const {
        const std::filesystem::path relative = resolved.lexically_relative(folder_);
        return !folder_.empty() && !relative.empty() && *relative.begin() != ".." && relative != ".";
    }

    const std::filesystem::path* resolved_folder(const std::filesystem::path& folder) {
        const auto known = folders_.find(folder.native());
        if (known != folders_.end()) return known->second ? &*known->second : nullptr;
        std::error_code error;
        std::filesystem::path resolved = std::filesystem::canonical(folder.empty() ? "." : folder, error);
        auto& slot = folders_[folder.native()];
        if (!error) slot = std::move(resolved);
        return slot ? &*slot : nullptr;
    }

    // A picture named through a link: every step resolved.
    FileLook look_resolving_all(const std::filesystem::path& given, std::size_t head_bytes) const {
        namespace fs = std::filesystem;
        FileLook look;
        std::error_code error;
        const fs::path path = fs::canonical(given, error);
        if (error) return look;
        if (!inside(path)) {
            look.kind = FileLook::Outside;
            return look;
        }
        const PathLook at = look_at_path(path.native());
        if (at.kind == PathLook::Missing) return look;
        if (at.kind != PathLook::Regular) {
            look.kind = FileLook::NotRegular;
            return look;
        }
        look.kind = FileLook::Found;
        look.size = at.size;
        if (head_bytes > 0) look.head = file_head(path.native(), head_bytes).value_or("");
        return look;
    }

    std::filesystem::path folder_;  // empty when the folder cannot be resolved
    std::map<std::string, std::optional<std::filesystem::path>> folders_;
};

class Checker {
public:
    Checker(PackageCheck& result, std::string_view folder)
        : r_(result),
          layout_(package_layout(format_from_number(result.format).value_or(kDefaultFormat))),
          folder_(folder),
          pictures_(folder) {
        images_.compile("<IMG .*?\"http://(.*?)\".*?>");
        backgrounds_.compile("background=\"http://(.*?)\"");
    }

    // A row checked when it was written (full false) is taken for the ids and main picture
    // names that later rows must not repeat, and for whether it reads whole.
    void row(int k, const PackageRecord& record, bool full = true) {
        const int expected = layout_.field_count();
        const std::size_t title_column = static_cast<std::size_t>(layout_.column_of(ColumnSource::Title));
        const std::string title =
            record.fields.size() > title_column ? record.fields[title_column] : std::string();
        prefix_ = "第 "_gbk + number(static_cast<std::size_t>(k)) + " 行「"_gbk + title + "」："_gbk;
        if (!record.error.empty()) {
            problem(record.error + "（文件第 "_gbk + number(static_cast<std::size_t>(record.line)) +
                    " 行）"_gbk);
        }
        if (static_cast<int>(record.fields.size()) != expected) {
            problem("有 "_gbk + number(record.fields.size()) + " 个字段，应为 "_gbk +
                    number(static_cast<std::size_t>(expected)) + " 个"_gbk);
            return;  // the columns cannot be trusted
        }
        if (full && title.size() > kMostTitleBytes) {
            r_.warnings.push_back("提醒："_gbk + prefix_ + "标题 "_gbk + number(title.size()) +
                                  " 字节，超过 "_gbk + number(kMostTitleBytes) +
                                  " 字节（30 个汉字）的上限"_gbk);
        }
        // The seller assistant uploads a repeated id as a second listing of one product.
        const std::string& id = field(record, ColumnSource::OfferId);
        if (!id.empty()) {
            const auto [first, added] = ids_.emplace(id, k);
            if (!added) {
                problem("宝贝ID "_gbk + id + " 与第 "_gbk +
                        number(static_cast<std::size_t>(first->second)) + " 行重复"_gbk);
            }
        }
        main_pictures(k, field(record, ColumnSource::MainPictures), full);
        if (full) description(field(record, ColumnSource::Description));
    }

private:
    // The record has the layout's field count when this is asked.
    const std::string& field(const PackageRecord& record, ColumnSource source) const {
        return record.fields[static_cast<std::size_t>(layout_.column_of(source))];
    }

    void problem(const std::string& what) { r_.problems.push_back(prefix_ + what); }

    void main_pictures(int k, const std::string& column, bool full) {
        const std::string extension(main_picture_extension(layout_.format));
        int position = 0;
        for (const std::string& entry : split_text(column, ":|;")) {
            const std::string name = text_before(entry, ":");
            if (!full) {
                if (!name.empty()) names_.emplace(name, k);
                continue;
            }
            ++r_.mainPictures;
            if (name.empty() || entry.substr(name.size()) != ":1:" + std::to_string(position)) {
                problem("主图列表项不对：“"_gbk + entry + "”"_gbk);
            }
            ++position;
            if (name.empty()) continue;
            const auto [first, added] = names_.emplace(name, k);
            if (!added) {
                problem("主图 "_gbk + name + " 与第 "_gbk +
                        number(static_cast<std::size_t>(first->second)) + " 行的主图同名"_gbk);
            }
            const std::string file = name + extension;
            FileLook look = pictures_.look(folder_ + "/" + file, 16);
            if (look.kind == FileLook::Missing) {
                problem("主图 "_gbk + file + " 不存在"_gbk);
            } else if (look.kind == FileLook::Outside) {
                problem("主图 "_gbk + file + " 不在数据包的图片文件夹里"_gbk);
            } else if (look.kind == FileLook::NotRegular) {
                problem("主图 "_gbk + file + " 不是普通文件"_gbk);
            } else if (look.size == 0) {
                problem("主图 "_gbk + file + " 是空文件"_gbk);
            } else {
                const std::string type = detect_picture_type(look.head);
                if (type.ends_with(".JPG")) {
                    problem("主图 "_gbk + file + " 不是图片（开头字节 "_gbk +
                            type.substr(0, type.size() - 4) + "）"_gbk);
                }
            }
        }
        // Uploaded so, the listing would show no picture at all.
        if (full && position == 0) problem("没有主图"_gbk);
    }

    void description(const std::string& text) {
        static constexpr std::string_view kScheme = "file://";
        for (std::size_t at = text.find(kScheme); at != std::string::npos;
             at = text.find(kScheme, at + kScheme.size())) {
            ++r_.localPictures;
            const std::size_t from = at + kScheme.size();
            const std::size_t end = text.find('"', from);
            const std::string path = percent_decoded(
                std::string_view(text).substr(from, end == std::string::npos ? end : end - from));
            // A local address may name any file on the machine: only the package's own
            // pictures count, since only they travel with the table.
            const FileLook look = pictures_.look(path, 0);
            if (look.kind == FileLook::Missing) {
                problem("描述图片 "_gbk + path + " 不存在"_gbk);
            } else if (look.kind == FileLook::Outside) {
                problem("描述图片 "_gbk + path + " 不在数据包的图片文件夹里"_gbk);
            } else if (look.kind == FileLook::NotRegular) {
                problem("描述图片 "_gbk + path + " 不是普通文件"_gbk);
            } else if (look.size == 0) {
                problem("描述图片 "_gbk + path + " 是空文件"_gbk);
            }
        }
        // Both patterns need "http://"; most descriptions have none left once localised.
        if (!contains_ascii_ignoring_case(text, "http://")) return;
        r_.remotePictures += images_.find_all(text);
        r_.remotePictures += backgrounds_.find_all(text);
    }

    PackageCheck& r_;
    const PackageLayout& layout_;
    std::string folder_;
    PictureLooker pictures_;
    std::string prefix_;
    std::map<std::string, int> names_;  // main picture name -> first row naming it
    std::map<std::string, int> ids_;    // offer id -> first row holding it
    RegexMatcher images_{RegexMatcher::Dialect::Script};
    RegexMatcher backgrounds_{RegexMatcher::Dialect::Script};
};

std::string hex_bytes(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        if (!out.empty()) out += ' ';
        out += kHex[static_cast<unsigned char>(c) >> 4];
        out += kHex[static_cast<unsigned char>(c) & 0x0F];
    }
    return out;
}

constexpr int kHeaderLines = 3;

}  // namespace

int package_field_count(PackageFormat format) {
    return package_layout(format).field_count();
}

PackageTableReader::PackageTableReader(std::string_view bytes) : badAt_(std::string_view::npos) {
    PackageTable& table = table_;
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        separator_ = '\t';
        std::string_view units = bytes.substr(2);
        std::size_t zero = 0;
        while (zero + 1 < units.size() && (units[zero] != '\0' || units[zero + 1] != '\0'))
            zero += 2;
        decoded_ = utf16le_to_gbk(units);
        text_ = decoded_;
        // Today's assistant table starts as the 5.x one does; the 1688 table with its app line.
        const std::string_view first = package_layout(PackageFormat::TaobaoToday).firstLine;
        const bool today = text_.starts_with(first) &&
                           (text_.size() == first.size() || text_[first.size()] == '\n');
        table.format = today ? 6 : 4;
        // The 1688 table ends with one zero unit; today's has none, so one would hide the rest.
        table.terminated = today ? zero + 1 >= units.size() : zero + 2 == units.size();
        const std::size_t bad = first_invalid_utf16le(units);
        if (bad != std::string_view::npos) {
            table.badByte = bad + 2;
            table.badBytes = hex_bytes(units.substr(bad, 2));
            // The text ends at the first zero unit; a byte past it is on no line.
            if (bad <= zero) {
                badAt_ = utf16le_to_gbk(units.substr(0, bad)).size();
                badPending_ = true;
            }
        }
    } else if (bytes.substr(0, 8) == "version ") {
        table.format = 5;
        text_ = bytes;
        const std::size_t bad = first_invalid_gbk(bytes);
        if (bad != std::string_view::npos) {
            table.badByte = bad;
            table.badBytes = hex_bytes(bytes.substr(bad, 1));
            badAt_ = bad;
            badPending_ = true;
        }
    } else {
        return;
    }
    table.headerMatches = text_.starts_with(package_header_text(*format_from_number(table.format)));
    PackageRecord record;
    for (int k = 0; k < kHeaderLines && read_next(record, true); ++k) {
        if (table.headerError.empty()) table.headerError = record.error;
    }
    inHeader_ = false;
}

bool PackageTableReader::read_next(PackageRecord& record, bool keep_fields) {
    if (i_ >= text_.size()) {
        if (badPending_) {  // no record holds it: an empty text
            badPending_ = false;
            table_.badLine = 1;
        }
        return false;
    }
    read_record(text_, separator_, i_, line_, record, keep_fields);
    if (!inHeader_) ++rowsRead_;
    if (badPending_ && record.start <= badAt_ && (badAt_ < i_ || i_ >= text_.size())) {
        badPending_ = false;
        const std::string_view inside = text_.substr(record.start, badAt_ - record.start);
        table_.badLine = record.line + static_cast<int>(std::count(inside.begin(), inside.end(), '\n'));
        table_.badRecord = inHeader_ ? 0 : rowsRead_;
    }
    return true;
}

bool PackageTableReader::next(PackageRecord& record, bool keep_fields) {
    return table_.format != 0 && read_next(record, keep_fields);
}

PackageTable read_package_table(std::string_view bytes) {
    PackageTableReader reader(bytes);
    std::vector<PackageRecord> records;
    PackageRecord record;
    while (reader.next(record)) records.push_back(std::move(record));
    PackageTable table = reader.table();
    table.records = std::move(records);
    return table;
}

PackageCheck check_package(std::string_view table_path, std::string_view package_folder,
                           int new_rows) {
    PackageCheck r;
    const FileRead read = read_regular_file(table_path, kMostTableBytes);
    if (!read.ok()) {
        r.summary = file_read_failure(read, kMostTableBytes, "数据包文件"_gbk, table_path);
        return r;
    }
    // The rows stream by: only the names and ids they hold are kept. Which rows are new is
    // known once all are counted, so the rows are counted first: that read keeps no fields.
    int rows = 0;
    {
        PackageTableReader counter(read.bytes);
        if (counter.table().format == 0) {
            r.summary = "不是数据包文件（开头既不是 FF FE，也不是 version）："_gbk + std::string(table_path);
            return r;
        }
        r.format = counter.table().format;
        PackageRecord record;
        while (counter.next(record, false)) ++rows;
    }
    r.readable = true;
    r.rows = rows;
    const PackageLayout& layout = package_layout(*format_from_number(r.format));
    const std::size_t title_column = static_cast<std::size_t>(layout.column_of(ColumnSource::Title));
    PackageTableReader reader(read.bytes);
    const int first_full = new_rows < 0 ? 1 : std::max(1, rows - new_rows + 1);
    Checker checker(r, package_folder);
    std::string bad_title;
    PackageRecord record;
    for (int k = 1; reader.next(record); ++k) {
        if (k == reader.table().badRecord && record.fields.size() > title_column) {
            bad_title = record.fields[title_column];
        }
        checker.row(k, record, k >= first_full);
    }
    const PackageTable& table = reader.table();

    // What concerns the whole file goes first.
    std::vector<std::string> whole;
    if (!table.headerMatches) {
        whole.push_back("表头：与格式 "_gbk + std::to_string(r.format) + " 的表头不符"_gbk);
    }
    if (!table.terminated) {
        whole.push_back(layout.closingZeroUnit ? "文件末尾：缺少结束符 00 00"_gbk
                                               : "文件中有 00 00，其后的内容读不到"_gbk);
    }
    if (table.badByte != std::string_view::npos) {
        // One line for the first: a strict reader refuses the whole file at that byte.
        std::string where = "文件末尾："_gbk;
        if (table.badRecord > 0) {
            where = "第 "_gbk + std::to_string(table.badRecord) + " 行「"_gbk + bad_title + "」："_gbk;
        } else if (table.badLine > 0) {
            where = "表头："_gbk;
        }
        std::string problem = where + "文件偏移 "_gbk + std::to_string(table.badByte) + " 处的 "_gbk +
                              table.badBytes + (layout.utf16 ? " 不是有效的 UTF-16 文字"_gbk
                                                                  : " 不是有效的 GBK 文字"_gbk);
        if (table.badLine > 0) problem += "（文件第 "_gbk + std::to_string(table.badLine) + " 行）"_gbk;
        whole.push_back(std::move(problem));
    }
    r.problems.insert(r.problems.begin(), whole.begin(), whole.end());

    const std::string counts = "主图 "_gbk + std::to_string(r.mainPictures) + " 张，本地描述图片 "_gbk +
                               std::to_string(r.localPictures) + " 张，网络图片地址 "_gbk +
                               std::to_string(r.remotePictures) + " 个，问题 "_gbk +
                               std::to_string(r.problems.size()) + " 个"_gbk;
    r.summary = "检查：宝贝 "_gbk + std::to_string(r.rows) + " 个，"_gbk +
                (first_full > 1 ? "本次写入的 "_gbk + std::to_string(rows - first_full + 1) + " 个："_gbk
                                : std::string()) +
                counts;
    if (!r.warnings.empty()) {
        r.warningSummary = "提醒：标题超过 "_gbk + std::to_string(kMostTitleBytes) +
                           " 字节的宝贝 "_gbk + std::to_string(r.warnings.size()) + " 个"_gbk;
    }
    return r;
}

}  // namespace vq
