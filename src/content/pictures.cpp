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

bool save_picture(PictureFetch& picture, std::string_view gbk_path, const ProductContext& context) {
    if (!picture.file.commit(gbk_path)) return false;
    picture_source(context).saved(picture, gbk_path);
    return true;
}

struct PictureCache::Flight {
    enum class State { Flying, Landed, Failed, Abandoned };
    const void* owner = nullptr;
    State state = State::Flying;
    StagedFile hold;  // a second name of the fetched file until it is saved
    std::string head;
};

PictureCache::PictureCache() = default;
PictureCache::~PictureCache() = default;

PictureCache::Claim PictureCache::claim(std::string_view url, const void* owner) {
    const std::string address = picture_wire_address(url);
    std::lock_guard lock(mutex_);
    if (saved_.count(address)) return Claim::Saved;
    const auto it = flights_.find(address);
    if (it != flights_.end()) return it->second->owner == owner ? Claim::Fetch : Claim::Elsewhere;
    auto flight = std::make_shared<Flight>();
    flight->owner = owner;
    flights_.emplace(address, std::move(flight));
    return Claim::Fetch;
}

void PictureCache::fetched(std::string_view url, const PictureFetch& picture, const void* owner) {
    const std::string address = picture_wire_address(url);
    // The fetched file may be renamed into place or dropped at any time after this; those
    // waiting link this second name instead.
    StagedFile hold = picture.fetched() ? picture.file.second_name() : StagedFile();
    std::shared_ptr<Flight> ended;
    {
        std::lock_guard lock(mutex_);
        const auto it = flights_.find(address);
        if (it == flights_.end() || it->second->owner != owner ||
            it->second->state != Flight::State::Flying) {
            return;
        }
        Flight& flight = *it->second;
        if (picture.fetched() && hold.ok()) {
            flight.state = Flight::State::Landed;
            flight.hold = std::move(hold);
            flight.head = picture.head;
        } else {
            // Not a picture: shared with those waiting now, tried again by later requests.
            // Bytes with nowhere to go: each waiter tries its own folder.
            flight.state = picture.unwritable() || picture.fetched() ? Flight::State::Abandoned
                                                                     : Flight::State::Failed;
            ended = std::move(it->second);
            flights_.erase(it);
        }
    }
    landed_.notify_all();
}

void PictureCache::abandon(std::string_view url, const void* owner) {
    const std::string address = picture_wire_address(url);
    {
        std::lock_guard lock(mutex_);
        const auto it = flights_.find(address);
        if (it == flights_.end() || it->second->owner != owner ||
            it->second->state != Flight::State::Flying) {
            return;
        }
        it->second->state = Flight::State::Abandoned;
        flights_.erase(it);
    }
    landed_.notify_all();
}

std::optional<PictureFetch> PictureCache::take(std::string_view url, std::string_view gbk_folder,
                                               const void* owner,
                                               const std::function<bool()>& move_along) {
    const std::string address = picture_wire_address(url);
    const auto staged = [&](const StagedFile& file_or_none, const std::string& path,
                            std::string head) -> std::optional<PictureFetch> {
        PictureFetch copied;
        copied.file = path.empty() ? file_or_none.linked_into(gbk_folder)
                                   : StagedFile::copy_of(path, gbk_folder);
        if (!copied.file.ok() || copied.file.size() == 0) return std::nullopt;
        copied.outcome = PictureFetch::Outcome::Fetched;
        copied.head = std::move(head);
        copied.address = address;
        return copied;
    };
    for (;;) {
        std::shared_ptr<Flight> flight;
        {
            std::unique_lock lock(mutex_);
            if (const auto it = saved_.find(address); it != saved_.end()) {
                const Saved saved = it->second;
                lock.unlock();
                if (auto copied = staged({}, saved.path, saved.head)) return copied;
                // Gone or unreadable since: the network has it again.
                lock.lock();
                saved_.erase(address);
            }
            const auto it = flights_.find(address);
            if (it == flights_.end()) {
                auto mine = std::make_shared<Flight>();
                mine->owner = owner;
                flights_.emplace(address, std::move(mine));
                return std::nullopt;
            }
            if (it->second->owner == owner) return std::nullopt;
            flight = it->second;
        }
        // Another product fetches it: wait for its transfer, moving our own along meanwhile
        // and keeping to a hold and a stop like every request.
        for (;;) {
            if (thread_cancelled()) return PictureFetch{};
            {
                std::lock_guard lock(mutex_);
                if (flight->state != Flight::State::Flying) break;
            }
            if (move_along && move_along()) continue;
            if (thread_held()) {
                wait_while_thread_held();
                continue;
            }
            std::unique_lock lock(mutex_);
            landed_.wait_for(lock, std::chrono::milliseconds(50),
                             [&] { return flight->state != Flight::State::Flying; });
        }
        std::lock_guard lock(mutex_);
        if (flight->state == Flight::State::Failed) {
            PictureFetch failed;
            failed.address = address;
            return failed;
        }
        // Abandoned, or saved since (the hold is gone then): look again.
        if (flight->state != Flight::State::Landed || !flight->hold.ok()) continue;
        // Linked under the lock, so the owner's save cannot drop the hold meanwhile.
        if (auto copied = staged(flight->hold, {}, flight->head)) return copied;
        // This folder refused it: the caller fetches it itself.
        return std::nullopt;
    }
}

void PictureCache::remember(const PictureFetch& picture, std::string_view gbk_path) {
    if (picture.address.empty()) return;
    StagedFile dropped;
    {
        std::lock_guard lock(mutex_);
        saved_.insert_or_assign(picture.address, Saved{std::string(gbk_path), picture.head});
        const auto it = flights_.find(picture.address);
        if (it != flights_.end() && it->second->state == Flight::State::Landed) {
            dropped = std::move(it->second->hold);
            flights_.erase(it);
        }
    }
}

void PictureCache::drop_unsaved() {
    std::unordered_map<std::string, std::shared_ptr<Flight>> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(flights_);
        for (auto& [address, flight] : dropped) {
            if (flight->state == Flight::State::Flying) flight->state = Flight::State::Abandoned;
        }
    }
    landed_.notify_all();
}

PrefetchedPictures::PrefetchedPictures(PictureCache* cache, int most)
    : cache_(cache), batch_(most) {
    if (cache_) {
        batch_.set_on_done([this](int, const std::string& address, const PictureFetch& picture) {
            cache_->fetched(address, picture, this);
        });
    }
}

PrefetchedPictures::~PrefetchedPictures() {
    batch_.set_on_done(nullptr);
    // Transfers never taken end with the batch; those waiting for them fetch for themselves.
    if (cache_) {
        for (const auto& [key, index] : expected_) cache_->abandon(key.first, this);
    }
}

void PrefetchedPictures::expect(std::string_view url, std::string_view gbk_folder) {
    std::pair<std::string, std::string> key{picture_wire_address(url), std::string(gbk_folder)};
    if (expected_.count(key)) return;
    // Saved already, or on its way for another product: fetch() takes it from the cache.
    if (cache_ && cache_->claim(url, this) != PictureCache::Claim::Fetch) return;
    expected_.emplace(std::move(key), batch_.add(url, gbk_folder));
}

PictureFetch PrefetchedPictures::fetch(std::string_view url, std::string_view gbk_folder) {
    const auto it = expected_.find({picture_wire_address(url), std::string(gbk_folder)});
    if (it != expected_.end()) {
        const int index = it->second;
        expected_.erase(it);
        return batch_.take(index);
    }
    if (!cache_) return fetch_picture_into(url, gbk_folder);
    if (std::optional<PictureFetch> shared =
            cache_->take(url, gbk_folder, this, [this] { return batch_.move_along(5); })) {
        return std::move(*shared);
    }
    PictureFetch fetched = fetch_picture_into(url, gbk_folder);
    cache_->fetched(url, fetched, this);
    return fetched;
}

void PrefetchedPictures::saved(const PictureFetch& picture, std::string_view gbk_path) {
    if (cache_) cache_->remember(picture, gbk_path);
}

void expect_product_pictures(PrefetchedPictures& source, const OfferRecord& record,
                             const ProductContext& context, bool download_description,
                             DescriptionMatchers& matchers) {
    if (download_description) {
        for (const auto& [url, folder] : expected_description_pictures(record, context, matchers))
            source.expect(url, folder);
    }
    const std::size_t most = context.keepPictures > 0 ? static_cast<std::size_t>(context.keepPictures)
                                                      : record.mainPictureAddresses.size();
    for (std::size_t k = 0; k < most && k < record.mainPictureAddresses.size(); ++k) {
        source.expect(record.mainPictureAddresses[k], context.packageFolder);
    }
}

std::string picture_type(const PictureFetch& fetched) {
    std::string head = fetched.head;  // the detector consumes what it is given
    return detect_picture_type(head);
}

void download_main_pictures(OfferRecord& record, const ProductContext& context) {
    const Clock& clock = context.clock ? *context.clock : system_clock();
    MillisSequence& millis = context.millis ? *context.millis : process_millis_sequence();
    const std::string counts =
        std::to_string(context.productNumber) + "/" + std::to_string(context.productCount);
    const std::string_view extension = main_picture_extension(context.outputFormat);

    record.mainPictures.clear();
    context.log_line("  开始下载 第："_gbk + counts + "  个宝贝   宝贝主图数据！\r\n"_gbk);
    // Pictures past the kept number are never fetched.
    const int most = context.keepPictures > 0 ? context.keepPictures : INT_MAX;
    const int listed = static_cast<int>(record.mainPictureAddresses.size());
    for (int k = 1; k <= most && k <= listed; ++k) {
        const std::string number = std::to_string(k);
        context.log_line("  正在下载 第："_gbk + number + "  张 宝贝主图数据... \r\n"_gbk);
        const std::string& url = record.mainPictureAddresses[static_cast<std::size_t>(k - 1)];
        PictureSource& source = picture_source(context);
        // Fetched straight into the package folder, where it is renamed into place whole.
        PictureFetch got = source.fetch(url, context.packageFolder);
        if (!got.fetched() && !got.unwritable()) {
            got = source.fetch(url, context.packageFolder);  // one more try before giving up
        }

        std::string_view failure;
        if (got.unwritable()) {
            failure = "  张 宝贝主图无法写入文件 已从数据包中略去\r\n"_gbk;
            context.report_unwritable(got.writeError, context.packageFolder);
        } else if (!got.fetched()) {
            failure = "  张 宝贝主图下载失败 已从数据包中略去\r\n"_gbk;
        } else {
            const std::string name =
                md5_text(unique_millis_text(clock, millis) + record.title + record.offerId);
            std::string path = context.packageFolder + "/" + name;
            path += extension;
            if (save_picture(got, path, context)) {
                record.mainPictures.push_back(name);
            } else {
                failure = "  张 宝贝主图无法写入文件 已从数据包中略去\r\n"_gbk;
                context.report_unwritable(got.file.error(), path);
            }
        }
        if (!failure.empty()) {
            ++record.failedPictures;
            context.log_line("  第："_gbk + counts + "  个宝贝 第："_gbk + number +
                             std::string(failure));
        }
    }
    context.log_line("  下载完毕 第："_gbk + counts + "  个宝贝   宝贝主图数据！\r\n"_gbk);
}

}  // namespace vq
