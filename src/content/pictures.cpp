#include "content/pictures.hpp"

#include <climits>
#include <string>
#include <string_view>

#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {

std::string detect_picture_type(std::string& bytes) {
    // Zero bytes render as "00" but other bytes below 0x10 as one digit; the signature
    // table below is written against exactly this rendering.
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string r;
    const std::size_t count = bytes.size() < 10 ? bytes.size() : 10;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == 0) {
            r += "00";
        } else {
            if (c >= 0x10) r += kHex[c >> 4];
            r += kHex[c & 15];
        }
    }
    std::string().swap(bytes);

    const std::string_view v(r);
    const auto starts = [v](std::string_view prefix) { return v.starts_with(prefix); };
    if (starts("FFD8")) return "jpg";
    if (starts("0000020000") || starts("0000100000")) return "tga";
    if (starts("474946383961") || starts("474946383761")) return "gif";
    if (starts("89504E47")) return "png";
    if (starts("424D")) return "bmp";
    if (starts("0A")) return "pcx";
    if (starts("4D4D") || starts("4949")) return "tiff";
    if (starts("0000010001002020") || starts("00001001002020")) return "ico";
    if (starts("0000020001002020")) return "cur";
    if (starts("464F524D")) return "iff";
    if (starts("52494646")) return "ani";
    return std::string(v.substr(0, 10)) + ".JPG";
}

namespace {

class NetworkPictures final : public PictureSource {
public:
    PictureFetch fetch(std::string_view url, std::string_view gbk_folder) override {
        return fetch_picture_into(url, gbk_folder);
    }
};

}  // namespace

PictureSource& network_pictures() {
    static NetworkPictures source;
    return source;
}

PictureSource& picture_source(const ProductContext& context) {
    return context.pictures ? *context.pictures : network_pictures();
}

std::string picture_type(const PictureFetch& fetched) {
    std::string head = fetched.head;  // the detector consumes what it is given
    return detect_picture_type(head);
}

void download_main_pictures(XmlDocument& answer, OfferRecord& record,
                            const ProductContext& context) {
    static constexpr std::string_view kList =
        "rsp/Responses/Response/Result/result/toReturn/imageList";
    static const std::string kUri = std::string(kList) + "/originalImageURI";
    const Clock& clock = context.clock ? *context.clock : system_clock();
    MillisSequence& millis = context.millis ? *context.millis : process_millis_sequence();
    const std::string counts =
        std::to_string(context.productNumber) + "/" + std::to_string(context.productCount);
    const std::string_view extension = context.outputFormat == 4 ? ".ali" : ".tbi";

    record.pictureList.clear();
    context.log_line("  开始下载 第："_gbk + counts + "  个宝贝   宝贝主图数据！\r\n"_gbk);
    int position = 0;
    // Pictures past the kept number are never fetched.
    const int most = context.keepPictures > 0 ? context.keepPictures : INT_MAX;
    for (int k = 1; k <= most && answer.child_count(kList) > 0; ++k) {
        const std::string number = std::to_string(k);
        context.log_line("  正在下载 第："_gbk + number + "  张 宝贝主图数据... \r\n"_gbk);
        const std::string url = answer.node_text(kUri);
        PictureSource& source = picture_source(context);
        // Fetched straight into the package folder, where it is renamed into place whole.
        PictureFetch got = source.fetch(url, context.packageFolder);
        if (!got.fetched() && !got.unwritable()) {
            got = source.fetch(url, context.packageFolder);  // one more try before giving up
        }

        std::string_view failure;
        if (got.unwritable()) {
            failure = "  张 宝贝主图无法写入文件 已从数据包中略去\r\n"_gbk;
        } else if (!got.fetched()) {
            failure = "  张 宝贝主图下载失败 已从数据包中略去\r\n"_gbk;
        } else {
            const std::string name =
                md5_text(unique_millis_text(clock, millis) + record.title + record.offerId);
            std::string path = context.packageFolder + "/" + name;
            path += extension;
            if (got.file.commit(path)) {
                record.pictureList += name;
                record.pictureList += ":1:";
                record.pictureList += std::to_string(position++);
                record.pictureList += ":|;";
            } else {
                failure = "  张 宝贝主图无法写入文件 已从数据包中略去\r\n"_gbk;
            }
        }
        if (!failure.empty()) {
            ++record.failedPictures;
            context.log_line("  第："_gbk + counts + "  个宝贝 第："_gbk + number +
                             std::string(failure));
        }
        if (!answer.remove_node(kList)) break;
    }
    context.log_line("  下载完毕 第："_gbk + counts + "  个宝贝   宝贝主图数据！\r\n"_gbk);
}

}  // namespace vq
