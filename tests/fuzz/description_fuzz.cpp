// libFuzzer target: a description of any bytes goes through the entity rewriting and both
// picture passes, its pictures coming from memory (some missing), under every failure
// policy; the product's row still reads back under strict quoting into its 48 fields.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "content/description.hpp"
#include "content/pictures.hpp"
#include "fuzz_check.hpp"
#include "output/package_check.hpp"
#include "output/package_writer.hpp"
#include "support/encoding.hpp"

namespace {

class MemoryPictures final : public vq::PictureSource {
public:
    vq::PictureFetch fetch(std::string_view url, std::string_view folder) override {
        const std::string digest = vq::md5_text(url);
        if (digest[0] < '4') return {};  // a quarter of the pictures are missing
        return vq::staged_picture(digest[1] < '8' ? "GIF89a picture" : "\x89PNG\r\n\x1A\n", folder);
    }
};

class NoLog final : public vq::LogSink {
public:
    void append_log(std::string_view) override {}
};

const std::string& scratch() {
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vq-fuzz-XXXXXX").string();
        return std::string(mkdtemp(pattern.data()));
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static MemoryPictures pictures;
    static NoLog log;
    static vq::DescriptionMatchers matchers;
    static vq::LiveOptions options;
    static int runs = 0;
    // Picture files pile up by address; start afresh now and then.
    if (++runs % 500 == 0) std::filesystem::remove_all(scratch() + "/pkg");

    fuzz::Input input(data, size);
    const unsigned char choices = input.byte();
    options.taobaoOnly = (choices & 4) != 0;
    vq::ProductContext context;
    context.log = &log;
    context.packageFolder = scratch() + "/pkg";
    context.pictureFailurePolicy = static_cast<vq::FailurePolicy>(choices & 3);
    context.options = &options;
    context.pictures = &pictures;

    vq::OfferRecord record;
    record.title = std::string(input.text());
    record.offerId = "1";
    record.description = vq::rewrite_description_text(input.rest());
    vq::localize_description_pictures(record, context, matchers);
    FUZZ_CHECK(record.failedPictures >= 0);

    // The description reads back whole in the quoted field of each format.
    for (const vq::PackageFormat format :
         {vq::PackageFormat::Taobao, vq::PackageFormat::TaobaoToday, vq::PackageFormat::Alibaba}) {
        const std::string row = vq::build_package_row(record, format);
        const vq::PackageTable table = vq::read_package_table(vq::package_file_bytes(format, row));
        FUZZ_CHECK(table.records.size() == 1);
        FUZZ_CHECK(table.records[0].error.empty());
        FUZZ_CHECK(static_cast<int>(table.records[0].fields.size()) == vq::package_field_count(format));
    }
    return 0;
}
