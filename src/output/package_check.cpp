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
// the table is read byte by byte.
std::vector<PackageRecord> parse_records(std::string_view text, char separator) {
    std::vector<PackageRecord> records;
    const std::size_t n = text.size();
    std::size_t i = 0;
    int line = 1;
    const auto at_field_end = [&] {
        return i >= n || text[i] == separator || text[i] == '\r' || text[i] == '\n';
    };
    while (i < n) {
        PackageRecord record;
        record.line = line;
        record.start = i;
        const auto fault = [&record](std::string_view what) {
            if (record.error.empty()) record.error = what;
        };
        for (;;) {
            std::string field;
            if (text[i] == '"') {
                bool closed = false;
                for (++i; i < n; ++i) {
                    if (text[i] == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            field += '"';
                            ++i;
                            continue;
                        }
                        closed = true;
                        ++i;
                        break;
                    }
                    if (text[i] == '\n') ++line;
                    field += text[i];
                }
                if (!closed) fault("引号没有闭合"_gbk);
                if (!at_field_end()) fault("引号后面紧跟着其他字符"_gbk);
            }
            for (; !at_field_end(); ++i) {
                if (text[i] == '"') fault("未加引号的字段里有引号"_gbk);
                field += text[i];
            }
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
        records.push_back(std::move(record));
    }
    return records;
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

// A picture of the package: a regular file inside the package folder once ".." and links
// are resolved. folder is the package folder resolved the same way.
FileLook look_at(std::string_view gbk_path, const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    FileLook look;
    std::error_code error;
    const fs::path path = fs::canonical(fs::path(native_path(gbk_path)), error);
    if (error) return look;
    const fs::path relative = path.lexically_relative(folder);
    if (folder.empty() || relative.empty() || *relative.begin() == ".." || relative == ".") {
        look.kind = FileLook::Outside;
        return look;
    }
    if (!fs::is_regular_file(path, error)) {
        look.kind = FileLook::NotRegular;
        return look;
    }
    look.size = fs::file_size(path, error);
    if (error) return look;
    look.kind = FileLook::Found;
    std::ifstream in(path, std::ios::binary);
    char bytes[16];
    in.read(bytes, sizeof bytes);
    look.head.assign(bytes, static_cast<std::size_t>(in.gcount()));
    return look;
}

class Checker {
public:
    Checker(PackageCheck& result, std::string_view folder)
        : r_(result),
          layout_(package_layout(format_from_number(result.format).value_or(kDefaultFormat))),
          folder_(folder) {
        std::error_code error;
        resolvedFolder_ = std::filesystem::weakly_canonical(native_path(folder), error);
        if (error) resolvedFolder_.clear();
    }

    void row(int k, const PackageRecord& record) {
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
        if (title.size() > kMostTitleBytes) {
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
        main_pictures(k, field(record, ColumnSource::MainPictures));
        description(field(record, ColumnSource::Description));
    }

private:
    // The record has the layout's field count when this is asked.
    const std::string& field(const PackageRecord& record, ColumnSource source) const {
        return record.fields[static_cast<std::size_t>(layout_.column_of(source))];
    }

    void problem(const std::string& what) { r_.problems.push_back(prefix_ + what); }

    void main_pictures(int k, const std::string& column) {
        const std::string extension(main_picture_extension(layout_.format));
        int position = 0;
        for (const std::string& entry : split_text(column, ":|;")) {
            ++r_.mainPictures;
            const std::string name = text_before(entry, ":");
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
            FileLook look = look_at(folder_ + "/" + file, resolvedFolder_);
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
        if (position == 0) problem("没有主图"_gbk);
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
            const FileLook look = look_at(path, resolvedFolder_);
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
        for (const char* pattern : {"<IMG .*?\"http://(.*?)\".*?>", "background=\"http://(.*?)\""}) {
            matcher_.compile(pattern);
            r_.remotePictures += matcher_.find_all(text);
        }
    }

    PackageCheck& r_;
    const PackageLayout& layout_;
    std::string folder_;
    std::filesystem::path resolvedFolder_;  // empty when the folder cannot be resolved
    std::string prefix_;
    std::map<std::string, int> names_;  // main picture name -> first row naming it
    std::map<std::string, int> ids_;    // offer id -> first row holding it
    RegexMatcher matcher_{RegexMatcher::Dialect::Script};
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

// Finds the first byte of the file its encoding cannot read, and the record and line that
// hold it. text is the table's GBK text, records all of its records.
void locate_bad_byte(PackageTable& table, std::string_view bytes, std::string_view text,
                     const std::vector<PackageRecord>& records, std::size_t header_lines) {
    std::size_t at_text = 0;  // where the byte falls in text
    if (package_layout(*format_from_number(table.format)).utf16) {
        const std::string_view units = bytes.substr(2);
        const std::size_t bad = first_invalid_utf16le(units);
        if (bad == std::string_view::npos) return;
        table.badByte = bad + 2;
        table.badBytes = hex_bytes(units.substr(bad, 2));
        // The text ends at the first zero unit; a byte past it is on no line.
        const std::string_view before = units.substr(0, bad);
        for (std::size_t i = 0; i + 1 < before.size(); i += 2) {
            if (before[i] == '\0' && before[i + 1] == '\0') return;
        }
        at_text = utf16le_to_gbk(before).size();
    } else {
        const std::size_t bad = first_invalid_gbk(bytes);
        if (bad == std::string_view::npos) return;
        table.badByte = bad;
        table.badBytes = hex_bytes(bytes.substr(bad, 1));
        at_text = bad;
    }
    std::size_t k = 0;
    while (k + 1 < records.size() && records[k + 1].start <= at_text) ++k;
    if (records.empty()) {
        table.badLine = 1;
        return;
    }
    const PackageRecord& record = records[k];
    const std::string_view inside = text.substr(record.start, at_text - record.start);
    table.badLine = record.line + static_cast<int>(std::count(inside.begin(), inside.end(), '\n'));
    table.badRecord = k < header_lines ? 0 : static_cast<int>(k - header_lines + 1);
}

}  // namespace

int package_field_count(PackageFormat format) {
    return package_layout(format).field_count();
}

PackageTable read_package_table(std::string_view bytes) {
    PackageTable table;
    std::string text;
    char separator = ',';
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        separator = '\t';
        std::string_view units = bytes.substr(2);
        std::size_t zero = 0;
        while (zero + 1 < units.size() && (units[zero] != '\0' || units[zero + 1] != '\0'))
            zero += 2;
        text = utf16le_to_gbk(units);
        // Today's assistant table starts as the 5.x one does; the 1688 table with its app line.
        const std::string_view first = package_layout(PackageFormat::TaobaoToday).firstLine;
        const bool today = text.starts_with(first) &&
                           (text.size() == first.size() || text[first.size()] == '\n');
        table.format = today ? 6 : 4;
        // The 1688 table ends with one zero unit; today's has none, so one would hide the rest.
        table.terminated = today ? zero + 1 >= units.size() : zero + 2 == units.size();
    } else if (bytes.substr(0, 8) == "version ") {
        table.format = 5;
        text.assign(bytes);
    } else {
        return table;
    }
    const std::string& header = package_header_text(*format_from_number(table.format));
    table.headerMatches = text.starts_with(header);
    std::vector<PackageRecord> records = parse_records(text, separator);
    constexpr std::size_t kHeaderLines = 3;
    locate_bad_byte(table, bytes, text, records, kHeaderLines);
    for (std::size_t k = 0; k < records.size() && k < kHeaderLines; ++k) {
        if (table.headerError.empty()) table.headerError = records[k].error;
    }
    if (records.size() > kHeaderLines) {
        table.records.assign(std::make_move_iterator(records.begin() + kHeaderLines),
                             std::make_move_iterator(records.end()));
    }
    return table;
}

PackageCheck check_package(std::string_view table_path, std::string_view package_folder) {
    PackageCheck r;
    const FileRead read = read_regular_file(table_path, kMostTableBytes);
    if (!read.ok()) {
        r.summary = file_read_failure(read, kMostTableBytes, "数据包文件"_gbk, table_path);
        return r;
    }
    const PackageTable table = read_package_table(read.bytes);
    if (table.format == 0) {
        r.summary = "不是数据包文件（开头既不是 FF FE，也不是 version）："_gbk + std::string(table_path);
        return r;
    }
    r.readable = true;
    r.format = table.format;
    const PackageLayout& layout = package_layout(*format_from_number(table.format));
    r.rows = static_cast<int>(table.records.size());
    if (!table.headerMatches) {
        r.problems.push_back("表头：与格式 "_gbk + std::to_string(r.format) + " 的表头不符"_gbk);
    }
    if (!table.terminated) {
        r.problems.push_back(layout.closingZeroUnit ? "文件末尾：缺少结束符 00 00"_gbk
                                               : "文件中有 00 00，其后的内容读不到"_gbk);
    }
    if (table.badByte != std::string_view::npos) {
        // One line for the first: a strict reader refuses the whole file at that byte.
        std::string where = "文件末尾："_gbk;
        if (table.badRecord > 0) {
            const PackageRecord& record = table.records[static_cast<std::size_t>(table.badRecord - 1)];
            const std::size_t title_column =
                static_cast<std::size_t>(layout.column_of(ColumnSource::Title));
            where = "第 "_gbk + std::to_string(table.badRecord) + " 行「"_gbk +
                    (record.fields.size() > title_column ? record.fields[title_column] : "") +
                    "」："_gbk;
        } else if (table.badLine > 0) {
            where = "表头："_gbk;
        }
        std::string problem = where + "文件偏移 "_gbk + std::to_string(table.badByte) + " 处的 "_gbk +
                              table.badBytes + (layout.utf16 ? " 不是有效的 UTF-16 文字"_gbk
                                                                  : " 不是有效的 GBK 文字"_gbk);
        if (table.badLine > 0) problem += "（文件第 "_gbk + std::to_string(table.badLine) + " 行）"_gbk;
        r.problems.push_back(std::move(problem));
    }

    Checker checker(r, package_folder);
    int k = 0;
    for (const PackageRecord& record : table.records) checker.row(++k, record);

    r.summary = "检查：宝贝 "_gbk + std::to_string(r.rows) + " 个，主图 "_gbk +
                std::to_string(r.mainPictures) + " 张，本地描述图片 "_gbk +
                std::to_string(r.localPictures) + " 张，网络图片地址 "_gbk +
                std::to_string(r.remotePictures) + " 个，问题 "_gbk +
                std::to_string(r.problems.size()) + " 个"_gbk;
    if (!r.warnings.empty()) {
        r.warningSummary = "提醒：标题超过 "_gbk + std::to_string(kMostTitleBytes) +
                           " 字节的宝贝 "_gbk + std::to_string(r.warnings.size()) + " 个"_gbk;
    }
    return r;
}

}  // namespace vq
