#include "content/pictures.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <vector>

#include "net/capture_server.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

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

// Moves on one millisecond at every reading.
class SteppingClock final : public Clock {
public:
    LocalDateTime now() const override {
        std::lock_guard lock(mutex_);
        LocalDateTime t{2014, 3, 18, 9, 5, 7, 0};
        t.millisecond = step_++;
        return t;
    }

private:
    mutable std::mutex mutex_;
    mutable int step_ = 0;
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
        record_.pictureList = "stale";
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

TEST_F(MainPictures, SavedInAnswerOrderAndListed) {
    CaptureServer server([](const std::string& request) {
        return CaptureServer::ok("picture at " + request.substr(4, request.find(" HTTP") - 4));
    });
    SteppingClock clock;
    context_.clock = &clock;
    context_.outputFormat = 5;
    const std::string uri =
        "<size310x310URL>small</size310x310URL><originalImageURI>" + server.base();
    XmlDocument answer;
    ASSERT_TRUE(answer.load_bytes(
        answer_with({uri + "/m/1.jpg</originalImageURI>", uri + "/m/2.jpg</originalImageURI>",
                     // No address: an empty file, still listed.
                     "<size310x310URL>x</size310x310URL>"})));
    download_main_pictures(answer, record_, context_);

    const std::string& list = record_.pictureList;
    ASSERT_EQ(list.size(), 3 * (32 + 7u)) << list;
    std::vector<std::string> names;
    for (int k = 0; k < 3; ++k) {
        const std::string entry = list.substr(static_cast<std::size_t>(k) * 39, 39);
        EXPECT_EQ(entry.substr(32), ":1:" + std::to_string(k) + ":|;");
        names.push_back(entry.substr(0, 32));
        EXPECT_EQ(names.back().find_first_not_of("0123456789abcdef"), std::string::npos);
    }
    EXPECT_NE(names[0], names[1]);
    EXPECT_NE(names[1], names[2]);
    const std::string folder = context_.packageFolder + "/";
    EXPECT_EQ(read_file_bytes(folder + names[0] + ".tbi"), "picture at /m/1.jpg");
    EXPECT_EQ(read_file_bytes(folder + names[1] + ".tbi"), "picture at /m/2.jpg");
    EXPECT_EQ(read_file_bytes(folder + names[2] + ".tbi"), "");
    EXPECT_EQ(answer.child_count(kAnswer + "imageList"), 0);
    EXPECT_EQ(answer.node_text(kAnswer + "subject"), "t");

    EXPECT_EQ(log_texts(), (std::vector<std::string>{
                               "  开始下载 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk,
                               "  正在下载 第：1  张 宝贝主图数据... \r\n"_gbk,
                               "  正在下载 第：2  张 宝贝主图数据... \r\n"_gbk,
                               "  正在下载 第：3  张 宝贝主图数据... \r\n"_gbk,
                               "  下载完毕 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk,
                           }));
}

TEST_F(MainPictures, NameFromMillisTitleAndOfferIdWithTheFormatsExtension) {
    CaptureServer server(CaptureServer::ok("bytes"));
    FixedClock clock;
    context_.clock = &clock;
    context_.outputFormat = 4;
    XmlDocument answer;
    ASSERT_TRUE(answer.load_bytes(
        answer_with({"<originalImageURI>" + server.base() + "/a.jpg</originalImageURI>"})));
    download_main_pictures(answer, record_, context_);

    const std::string name = md5_text(unix_millis_text(clock) + "标题"_gbk + "123");
    EXPECT_EQ(record_.pictureList, name + ":1:0:|;");
    EXPECT_EQ(read_file_bytes(context_.packageFolder + "/" + name + ".ali"), "bytes");
    EXPECT_EQ(log_.lines().front(),
              log_time_stamp(clock) + "  开始下载 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk);
}

TEST_F(MainPictures, NoPicturesGiveAnEmptyList) {
    XmlDocument answer;
    ASSERT_TRUE(answer.load_bytes(answer_with({})));
    download_main_pictures(answer, record_, context_);
    EXPECT_EQ(record_.pictureList, "");
    EXPECT_EQ(log_texts(), (std::vector<std::string>{
                               "  开始下载 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk,
                               "  下载完毕 第：4/7  个宝贝   宝贝主图数据！\r\n"_gbk,
                           }));
}

}  // namespace
}  // namespace vq
