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

constexpr std::string_view kPictureList = "rsp/Responses/Response/Result/result/toReturn/imageList";
constexpr std::string_view kPictureAddress =
    "rsp/Responses/Response/Result/result/toReturn/imageList/originalImageURI";

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

bool save_picture(PictureFetch& picture, std::string_view gbk_path, const ProductContext& context) {
    if (!picture.file.commit(gbk_path)) return false;
    picture_source(context).saved(picture, gbk_path);
    return true;
}

void PictureCache::remember(const PictureFetch& picture, std::string_view gbk_path) {
    if (picture.address.empty()) return;
    std::lock_guard lock(mutex_);
    saved_.insert_or_assign(picture.address, Saved{std::string(gbk_path), picture.head});
}

std::optional<PictureFetch> PictureCache::copy(std::string_view url, std::string_view gbk_folder) {
    const std::string address = picture_wire_address(url);
    Saved saved;
    {
        std::lock_guard lock(mutex_);
        const auto it = saved_.find(address);
        if (it == saved_.end()) return std::nullopt;
        saved = it->second;
    }
    PictureFetch copied;
    copied.file = StagedFile::copy_of(saved.path, gbk_folder);
    // Gone or unreadable since: the network has it again.
    if (!copied.file.ok() || copied.file.size() == 0) return std::nullopt;
    copied.outcome = PictureFetch::Outcome::Fetched;
    copied.head = std::move(saved.head);
    copied.address = address;
    return copied;
}

bool PictureCache::has(std::string_view url) {
    const std::string address = picture_wire_address(url);
    std::lock_guard lock(mutex_);
    return saved_.count(address) > 0;
}

PrefetchedPictures::PrefetchedPictures(PictureCache* cache, int most)
    : cache_(cache), batch_(most) {}

void PrefetchedPictures::expect(std::string_view url, std::string_view gbk_folder) {
    std::pair<std::string, std::string> key{picture_wire_address(url), std::string(gbk_folder)};
    if (expected_.count(key)) return;
    // Saved already by an earlier product: it will come from the cache.
    if (cache_ && cache_->has(url)) return;
    expected_.emplace(std::move(key), batch_.add(url, gbk_folder));
}

PictureFetch PrefetchedPictures::fetch(std::string_view url, std::string_view gbk_folder) {
    const auto it = expected_.find({picture_wire_address(url), std::string(gbk_folder)});
    if (it != expected_.end()) {
        const int index = it->second;
        expected_.erase(it);
        return batch_.take(index);
    }
    if (cache_) {
        if (std::optional<PictureFetch> copied = cache_->copy(url, gbk_folder)) return std::move(*copied);
    }
    return fetch_picture_into(url, gbk_folder);
}

void PrefetchedPictures::saved(const PictureFetch& picture, std::string_view gbk_path) {
    if (cache_) cache_->remember(picture, gbk_path);
}

void expect_product_pictures(PrefetchedPictures& source, const OfferRecord& record,
                             const XmlDocument& answer, const ProductContext& context,
                             bool download_description, DescriptionMatchers& matchers) {
    if (download_description) {
        for (const auto& [url, folder] : expected_description_pictures(record, context, matchers))
            source.expect(url, folder);
    }
    // The main picture step consumes its list; its addresses are read from a copy.
    XmlDocument list = answer;
    const int most = context.keepPictures > 0 ? context.keepPictures : INT_MAX;
    for (int k = 1; k <= most && list.child_count(kPictureList) > 0; ++k) {
        source.expect(list.node_text(kPictureAddress), context.packageFolder);
        if (!list.remove_node(kPictureList)) break;
    }
}

std::string picture_type(const PictureFetch& fetched) {
    std::string head = fetched.head;  // the detector consumes what it is given
    return detect_picture_type(head);
}

void download_main_pictures(XmlDocument& answer, OfferRecord& record,
                            const ProductContext& context) {
    const std::string_view kList = kPictureList;
    const std::string_view kUri = kPictureAddress;
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
            if (save_picture(got, path, context)) {
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
