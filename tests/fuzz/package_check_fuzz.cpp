// libFuzzer target: any bytes as a package table, read and checked beside a small picture
// folder. The first byte chooses how the bytes become the file: as they are, after the
// format-5 header, or as UTF-16LE units after the format-4 header. The check never ends
// the process or blocks (the folder holds a FIFO and a link to a file outside), never
// passes a table whose bytes do not decode or whose rows break strict quoting, and what it
// passes --append takes.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_check.hpp"
#include "output/package_check.hpp"
#include "output/package_writer.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/text.hpp"

namespace {

const std::string kJpg("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01 picture", 20);

// The package folder: pictures a0 and a1 in both formats, an empty b, a description
// picture, a link to a picture outside and a FIFO. Made once, removed at exit.
struct Folder {
    Folder() {
        char pattern[] = "/tmp/vq-fuzz-check-XXXXXX";
        root = ::mkdtemp(pattern);
        table = root + "/pkg.csv";
        pictures = root + "/pkg";
        std::filesystem::create_directories(pictures + "/sub");
        for (const char* name : {"a0.tbi", "a1.tbi", "a0.ali", "a1.ali", "sub/d.jpg"}) {
            vq::write_file_atomic(pictures + "/" + name, kJpg);
        }
        vq::write_file_atomic(pictures + "/b.tbi", "");
        vq::write_file_atomic(root + "/outside.jpg", kJpg);
        std::filesystem::create_symlink(root + "/outside.jpg", pictures + "/sub/link.jpg");
        ::mkfifo((pictures + "/sub/fifo.jpg").c_str(), 0600);
    }
    ~Folder() {
        std::error_code error;
        std::filesystem::remove_all(root, error);
    }
    std::string root, table, pictures;
};

std::string header_bytes(vq::PackageFormat format) {
    const std::string& header = vq::package_header_text(format);
    if (format == vq::PackageFormat::Taobao) return header;
    const std::string units = vq::gbk_to_utf16le(header);
    return "\xFF\xFE" + units.substr(0, units.size() - 2);  // without the closing zero unit
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Folder folder;
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string bytes;
    switch (data[0] % 4) {
        case 0: bytes.assign(rest); break;
        case 1: bytes = header_bytes(vq::PackageFormat::Taobao).append(rest); break;
        case 2: bytes = header_bytes(vq::PackageFormat::Alibaba).append(rest); break;
        default: bytes = header_bytes(vq::PackageFormat::TaobaoToday).append(rest); break;
    }
    // "file://PKG/" in GBK text names the folder, so local pictures can be inside it.
    if (data[0] % 4 < 2) {
        bytes = vq::replace_all(bytes, "file://PKG/", "file://" + folder.pictures + "/");
    }
    FUZZ_CHECK(vq::write_file_atomic(folder.table, bytes));

    const vq::PackageTable table = vq::read_package_table(bytes);
    const vq::PackageCheck check = vq::check_package(folder.table, folder.pictures);
    FUZZ_CHECK(check.readable == (table.format != 0));
    if (!check.readable) return 0;
    FUZZ_CHECK(check.format == table.format);
    FUZZ_CHECK(check.rows == static_cast<int>(table.records.size()));

    // What a strict reader refuses is never clean.
    const vq::PackageFormat format = *vq::format_from_number(table.format);
    const bool utf16 = format != vq::PackageFormat::Taobao;
    const std::string_view body = utf16 ? std::string_view(bytes).substr(2) : bytes;
    const bool decodes = utf16 ? vq::first_invalid_utf16le(body) == std::string_view::npos
                               : vq::first_invalid_gbk(body) == std::string_view::npos;
    FUZZ_CHECK(decodes == (table.badByte == std::string_view::npos));
    bool rowsWhole = table.headerError.empty() && table.terminated;
    for (const vq::PackageRecord& record : table.records) {
        rowsWhole = rowsWhole && record.error.empty() &&
                    static_cast<int>(record.fields.size()) == vq::package_field_count(format);
    }
    if (!decodes || !rowsWhole) FUZZ_CHECK(!check.clean());

    // A package the check passes, ending in a line break, takes appended rows.
    const bool endsWithBreak = format == vq::PackageFormat::Alibaba ? bytes.ends_with(std::string("\n\0\0\0", 4))
                               : utf16                            ? bytes.ends_with(std::string("\n\0", 2))
                                                                  : bytes.ends_with("\n");
    if (check.clean() && endsWithBreak) FUZZ_CHECK(vq::append_refusal(format, bytes).empty());
    return 0;
}
