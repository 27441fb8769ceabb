#include "content/pictures.hpp"
#include "api/offer_extraction.hpp"
#include "output/package_layout.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <vector>

#include "net/capture_server.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/text.hpp"

namespace vq {
namespace {

// The picture column the package makes of the record's main pictures.
std::string picture_column(const vq::OfferRecord& r) {
    const vq::PackageLayout& layout = vq::package_layout(vq::PackageFormat::Taobao);
    return vq::column_value(layout.columns[static_cast<std::size_t>(layout.column_of(vq::ColumnSource::MainPictures))], r);
}

using test::CaptureServer;

TEST(DetectPictureType, Table) {
    struct Case {
        std::string bytes;
        std::string type;
    } cases[] = {
        {std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01", 12), "jpg"},
        {"GIF89a\x01\x00", "gif"},
        {"GIF87a", "gif"},
        {"\x89PNG\r\n\x1A\n", "png"},
        {"BM6\x0C", "bmp"},
        {std::string("\x00\x00\x10\x00\x00\x00", 6), "tga"},
        {"MM", "tiff"},
        {"II*\x00", "tiff"},
        // An icon header renders as 00 00 1 00 1 00 20 20.
        {std::string("\x00\x00\x01\x00\x01\x00\x20\x20\x00\x00", 10), "ico"},
        {"FORM", "iff"},
        {"RIFF", "ani"},
        // Patterns that need a one-digit byte written with a leading zero never hold.
        {"\x0A\x05\x01", "A51.JPG"},
        {std::string("\x00\x00\x02\x00\x01\x00\x20\x20", 8), "0000200100.JPG"},
        {"<html><body>", "3C68746D6C.JPG"},
        {"\xFF", "FF.JPG"},
        {"", ".JPG"},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(detect_picture_type(c.bytes), c.type);
        EXPECT_TRUE(c.bytes.empty());
    }
}

class RecordingLog final : public LogSink {
public:
    void append_log(std::string_view text) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(text);
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

class FixedClock final : public Clock {
public:
    LocalDateTime now() const override { return {2014, 3, 18, 9, 5, 7, 250}; }
};

const std::string kAnswer = "rsp/Responses/Response/Result/result/toReturn/";

std::string answer_with(const std::vector<std::string>& image_entries) {
    std::string xml = "<rsp><Responses><Response><Result><result><toReturn><subject>t</subject>";
    for (const std::string& entry : image_entries) xml += "<imageList>" + entry + "</imageList>";
    return xml + "</toReturn></result></Result></Response></Responses></rsp>";
}

class MainPictures : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vq_main_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        context_.packageFolder = pattern;
        context_.log = &log_;
        context_.productNumber = 4;
        context_.productCount = 7;
        record_.title = "标题"_gbk;
        record_.offerId = "123";
        record_.mainPictures = {"stale"};
    }
    void TearDown() override { std::filesystem::remove_all(context_.packageFolder); }

    // Log lines without their time stamps (the stamp is the line's text before "  ").
    std::vector<std::string> log_texts() {
        std::vector<std::string> texts;
        for (const std::string& l : log_.lines()) texts.push_back(l.substr(l.find("  ")));
        return texts;
    }

    RecordingLog log_;
    ProductContext context_;
    OfferRecord record_;
};

// A clock that does not move (a fast connection) still gives every picture its own name;
// a picture that never arrives is left out, one that arrives on the second try is kept.
TEST_F(MainPictures, EveryPictureItsOwnNameAndItsOwnBytes) {
    std::mutex mutex;
    int flaky_calls = 0;
    CaptureServer server([&](const std::string& request) {
        const std::string path = request.substr(4, request.find(" HTTP") - 4);
        if (path == "/m/404.jpg") {
            return std::string("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nNot Found");
        }
        if (path == "/m/flaky.jpg") {
            std::lock_guard lock(mutex);
            if (flaky_calls++ == 0) return CaptureServer::ok("");
        }
        return CaptureServer::ok("picture at " + path);
    });
    FixedClock clock;
    MillisSequence millis;
    context_.clock = &clock;
    context_.millis = &millis;
    context_.outputFormat = *vq::format_from_number(5);
    const std::string uri = "<originalImageURI>" + server.base();
    std::vector<std::string> entries;
    for (int k = 1; k <= 8; ++k) entries.push_back(uri + "/m/" + std::to_string(k) + ".jpg</originalImageURI>");
    entries.insert(entries.begin() + 2, uri + "/m/404.jpg</originalImageURI>");
    entries.insert(entries.begin() + 4, "<size310x310URL>no address</size310x310URL>");
    entries.push_back(uri + "/m/flaky.jpg</originalImageURI>");
    XmlDocument answer;
    ASSERT_TRUE(answer.load_bytes(answer_with(entries)));
    record_.mainPictureAddresses = vq::main_picture_addresses(answer);
    download_main_pictures(record_, context_);

    // Kept, in answer order: 1, 2, (404), 3, (no address), 4 .. 8, flaky.
    std::vector<std::string> expected_paths{"/m/1.jpg", "/m/2.jpg"};
    for (int k = 3; k <= 8; ++k) expected_paths.push_back("/m/" + std::to_string(k) + ".jpg");
    expected_paths.push_back("/m/flaky.jpg");
    const std::vector<std::string> entries_listed = split_text(picture_column(record_), ":|;");
    ASSERT_EQ(entries_listed.size(), expected_paths.size()) << picture_column(record_);
    std::set<std::string> names;
    for (std::size_t k = 0; k < entries_listed.size(); ++k) {
        const std::string name = entries_listed[k].substr(0, 32);
        EXPECT_EQ(entries_listed[k].substr(32), ":1:" + std::to_string(k));
        EXPECT_TRUE(names.insert(name).second) << "name used twice: " << name;
        EXPECT_EQ(read_file_bytes(context_.packageFolder + "/" + name + ".tbi"),
                  "picture at " + expected_paths[k]);
    }
    // The first name is made from the clock's own reading.
    EXPECT_EQ(entries_listed[0].substr(0, 32),
              md5_text(unix_millis_text(clock) + "标题"_gbk + "123"));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(context_.packageFolder))
        ++files;
    EXPECT_EQ(files, expected_paths.size());
    EXPECT_EQ(record_.failedPictures, 2);
    EXPECT_EQ(answer.child_count(kAnswer + "imageList"), 0);
    EXPECT_EQ(answer.node_text(kAnswer + "subject"), "t");

    const std::vector<std::string> texts = log_texts();
    const std::string failed = "  张 宝贝主图下载失败 已从数据包中略去\r\n"_gbk;
    EXPECT_EQ(texts.front(), "  开始下载 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk);
    EXPECT_EQ(texts[3], "  正在下载 第：3  张 宝贝主图数据... \r\n"_gbk);
    EXPECT_EQ(texts[4], "  第：4/7  个宝贝 第：3"_gbk + failed);
    EXPECT_EQ(texts[7], "  第：4/7  个宝贝 第：5"_gbk + failed);
    EXPECT_EQ(texts.back(), "  下载完毕 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk);
    EXPECT_EQ(texts.size(), 1u + 11u + 2u + 1u);
}

TEST_F(MainPictures, NameFromMillisTitleAndOfferIdWithTheFormatsExtension) {
    CaptureServer server(CaptureServer::ok("bytes"));
    FixedClock clock;
    MillisSequence millis;
    context_.clock = &clock;
    context_.millis = &millis;
    context_.outputFormat = *vq::format_from_number(4);
    XmlDocument answer;
    ASSERT_TRUE(answer.load_bytes(
        answer_with({"<originalImageURI>" + server.base() + "/a.jpg</originalImageURI>"})));
    record_.mainPictureAddresses = vq::main_picture_addresses(answer);
    download_main_pictures(record_, context_);

    const std::string name = md5_text(unix_millis_text(clock) + "标题"_gbk + "123");
    EXPECT_EQ(picture_column(record_), name + ":1:0:|;");
    EXPECT_EQ(read_file_bytes(context_.packageFolder + "/" + name + ".ali"), "bytes");
    EXPECT_EQ(log_.lines().front(),
              log_time_stamp(clock) + "  开始下载 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk);
}

TEST_F(MainPictures, APictureWithNowhereToGoIsLeftOutAndSaid) {
    CaptureServer server(CaptureServer::ok("picture"));
    const std::string folder = context_.packageFolder;
    context_.packageFolder += "/missing";
    XmlDocument answer;
    ASSERT_TRUE(answer.load_bytes(
        answer_with({"<originalImageURI>" + server.base() + "/a.jpg</originalImageURI>"})));
    record_.mainPictureAddresses = vq::main_picture_addresses(answer);
    download_main_pictures(record_, context_);
    context_.packageFolder = folder;
    EXPECT_EQ(picture_column(record_), "");
    EXPECT_EQ(record_.failedPictures, 1);
    EXPECT_EQ(log_texts()[2], "  第：4/7  个宝贝 第：1  张 宝贝主图无法写入文件 已从数据包中略去\r\n"_gbk);
}

TEST_F(MainPictures, NoPicturesGiveAnEmptyList) {
    XmlDocument answer;
    ASSERT_TRUE(answer.load_bytes(answer_with({})));
    record_.mainPictureAddresses = vq::main_picture_addresses(answer);
    download_main_pictures(record_, context_);
    EXPECT_EQ(picture_column(record_), "");
    EXPECT_EQ(log_texts(), (std::vector<std::string>{
                               "  开始下载 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk,
                               "  下载完毕 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk,
                           }));
}

}  // namespace
}  // namespace vq
