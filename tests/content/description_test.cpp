#include "content/description.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "net/capture_server.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

using test::CaptureServer;

TEST(RewriteDescriptionText, Table) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"a&quot;b", "a\"\"\"\"b"},
        {"<img src=\"x\">", "<img src=\"\"x\"\">"},
        {"1,2", "1，2"_gbk},
        {"&lt;p&gt;", "<p>"},
        {"a&amp;nbsp;b", "a b"},
        {"&amp;ldquo;x&amp;rdquo;&amp;hellip;&amp;mdash;", "“x”…—"_gbk},
        {"a\r\nb\nc\rd", "abc\rd"},
        // Entities decode once only; a line break inside one does not join it up.
        {"&amp;lt; &amp;quot; &amp;nb\nsp;", "&amp;lt; &amp;quot; &amp;nbsp;"},
        {"中文"_gbk, "中文"_gbk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(rewrite_description_text(c.in), c.out);
    }
}

TEST(PercentEncodeGbk, EveryByteAsTwoUpperCaseDigits) {
    EXPECT_EQ(percent_encode_gbk("中"_gbk), "%D6%D0");
    EXPECT_EQ(percent_encode_gbk(std::string("\x05z\xff", 3)), "%05%7A%FF");
    EXPECT_EQ(percent_encode_gbk(""), "");
}

TEST(ProductFolderName, DropsSeparatorsButNotInsideCharacters) {
    EXPECT_EQ(product_folder_name("a/b\\c.d%e f:g"), "abcdefg");
    // 0x5C is the second byte of this double-byte character, not a backslash.
    EXPECT_EQ(product_folder_name("x\x95\x5C/y"), "x\x95\x5Cy");
}

TEST(PictureDownloadAddress, ChineseEncodedAndAmpersandsUnescaped) {
    RegexMatcher chinese(RegexMatcher::Dialect::Script);
    EXPECT_EQ(picture_download_address("h/p/a.jpg?x=1&amp;y=2", chinese),
              "http://h/p/a.jpg?x=1&y=2");
    EXPECT_EQ(picture_download_address("h/中/图中.jpg"_gbk, chinese),
              "http://h/%D6%D0/%CD%BC%D6%D0.jpg");
    // Full-width punctuation lies outside the character range and stays as it is.
    EXPECT_EQ(picture_download_address("h/中，.jpg"_gbk, chinese),
              "http://h/%D6%D0" + "，"_gbk + ".jpg");
}

// Log lines without their time stamps.
class RecordingLog final : public LogSink {
public:
    explicit RecordingLog(std::size_t stamp_length) : stamp_(stamp_length) {}
    void append_log(std::string_view text) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(text.substr(stamp_));
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::size_t stamp_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

class FixedClock final : public Clock {
public:
    LocalDateTime now() const override { return {2014, 3, 18, 9, 5, 7, 0}; }
};

const std::string kJpg("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
const std::string kGif = "GIF89a\x01\x00";

// A picture server: path -> body; unknown paths answer an empty body.
class Pictures {
public:
    explicit Pictures(std::map<std::string, std::string> bodies)
        : bodies_(std::move(bodies)), server_([this](const std::string& request) {
              const auto from = request.find(' ') + 1;
              const std::string path = request.substr(from, request.find(' ', from) - from);
              const auto it = bodies_.find(path);
              return CaptureServer::ok(it == bodies_.end() ? std::string() : it->second);
          }) {}
    // The address as a description writes it, without "http://".
    std::string at(const std::string& path) const {
        return "127.0.0.1:" + std::to_string(server_.port()) + path;
    }
    std::vector<std::string> request_lines() {
        std::vector<std::string> lines;
        for (const std::string& r : server_.requests())
            lines.push_back(r.substr(0, r.find("\r\n")));
        return lines;
    }

private:
    std::map<std::string, std::string> bodies_;
    CaptureServer server_;
};

class LocalizePictures : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vq_desc_XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        context_.log = &log_;
        context_.clock = &clock_;
        context_.worker = 2;
        context_.productNumber = 3;
        context_.productCount = 9;
        context_.packageFolder = root_ + "/pkg";
        context_.pictureFailurePolicy = 1;
        context_.options = &options_;
        record_.title = "A/b. c"_gbk;  // sub-folder "Abc"
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string folder() const { return context_.packageFolder + "/Abc"; }
    std::string local(const std::string& address, const std::string& type) const {
        return "file://" + folder() + "/" + md5_text(address, true) + "." + type;
    }
    std::string line(const std::string& head, const std::string& middle, int i, int m,
                     const std::string& tail = "\r\n") const {
        return " 线程：2"_gbk + head + "3/9" + middle + std::to_string(i) + "/" +
               std::to_string(m) + tail;
    }
    std::string downloading(int i, int m) const {
        return line("  正在下载第:"_gbk, " 个宝贝 描述图片 "_gbk, i, m);
    }
    std::size_t files_in_folder() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder())) ++n;
        return n;
    }
    void run() { localize_description_pictures(record_, context_, matchers_); }

    std::string root_;
    FixedClock clock_;
    RecordingLog log_{log_time_stamp(FixedClock()).size()};
    LiveOptions options_;
    ProductContext context_;
    OfferRecord record_;
    DescriptionMatchers matchers_;
};

TEST_F(LocalizePictures, WithoutPicturesNothingHappens) {
    record_.description = "<p>text</p><img src=\"\"/local.jpg\"\">";
    run();
    EXPECT_EQ(record_.description, "<p>text</p><img src=\"\"/local.jpg\"\">");
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_FALSE(file_exists(folder()));
}

TEST_F(LocalizePictures, ImgTagsThenBackgroundsSavedAndPointedAtLocalCopies) {
    Pictures server({{"/p/a.jpg?x=1&y=2", kJpg}, {"/p/b.gif", kGif}});
    const std::string a = server.at("/p/a.jpg?x=1&amp;y=2");  // as the description escapes it
    const std::string b = server.at("/p/b.gif");
    // Lower-case tag, the same picture twice, and a background in upper-case scheme.
    record_.description = "<img src=\"\"http://" + a + "\"\"><IMG alt=\"\"\"\" src=\"\"http://" +
                          a + "\"\"><td background=\"\"HTTP://" + b + "\"\">";
    run();

    EXPECT_EQ(record_.description, "<img src=\"\"" + local(a, "jpg") +
                                       "\"\"><IMG alt=\"\"\"\" src=\"\"" + local(a, "jpg") +
                                       "\"\"><td background=\"\"" + local(b, "gif") + "\"\">");
    EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(a, true) + ".jpg"), kJpg);
    EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(b, true) + ".gif"), kGif);
    EXPECT_EQ(files_in_folder(), 2u);  // no temporary files left behind
    EXPECT_EQ(log_.lines(),
              (std::vector<std::string>{downloading(1, 2), downloading(2, 2), downloading(1, 1)}));
    for (const std::string& request : server.request_lines()) {
        if (request.find("a.jpg") != std::string::npos) {
            EXPECT_EQ(request, "GET /p/a.jpg?x=1&y=2 HTTP/1.0");
        }
    }
}

TEST_F(LocalizePictures, EmptyPicturesFollowTheFailurePolicy) {
    Pictures server({});
    const std::string a = server.at("/empty/a.jpg");
    const std::string b = server.at("/empty/b.jpg");
    const std::string description =
        "<img src=\"\"http://" + a + "\"\" x><td background=\"\"http://" + b + "\"\">";
    const std::string z1 = " 个宝贝 描述图片 字节集为0 已经删除 "_gbk;
    const std::string z2 = " 个宝贝 描述图片 字节集为0 正在重新下载 "_gbk;
    const std::string z3 = " 个宝贝 描述图片 字节集为0 重新下载失败===已经删除图片 "_gbk;
    const std::string removed = "<img src=\"\"\"\" x><td background=\"\"\"\">";
    struct Case {
        int policy;
        std::string description;
        std::vector<std::string> lines;
        std::size_t requests;
    } cases[] = {
        {1, description, {downloading(1, 1), downloading(1, 1)}, 2},
        {0, description, {downloading(1, 1), downloading(1, 1)}, 2},
        {2,
         removed,
         {downloading(1, 1), line("  第:"_gbk, z1, 1, 1), downloading(1, 1),
          line("  第:"_gbk, z1, 1, 1)},
         2},
        // The retry is made; only the background pass reports that it failed too.
        {3,
         removed,
         {downloading(1, 1), line("  第:"_gbk, z2, 1, 1), downloading(1, 1),
          line("  第:"_gbk, z2, 1, 1), line("  第:"_gbk, z3, 1, 1)},
         4},
    };
    std::size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.policy);
        const std::size_t lines_before = log_.lines().size();
        context_.pictureFailurePolicy = c.policy;
        record_.description = description;
        run();
        EXPECT_EQ(record_.description, c.description);
        const auto all = log_.lines();
        EXPECT_EQ(
            std::vector<std::string>(all.begin() + static_cast<long>(lines_before), all.end()),
            c.lines);
        EXPECT_EQ(files_in_folder(), 0u);
        const std::size_t requests = server.request_lines().size();
        EXPECT_GE(requests - seen, c.requests);
        seen = requests;
    }
}

TEST_F(LocalizePictures, TaobaoOnlySkipsOtherHostsAndKeepsEvenEmptyPictures) {
    Pictures server({{"/other/a.jpg", kJpg}});
    const std::string other = server.at("/other/a.jpg");
    const std::string taobao = server.at("/taobao/empty.png");
    options_.taobaoOnly = true;
    context_.pictureFailurePolicy = 2;  // not consulted with taobao_only
    record_.description =
        "<img src=\"\"http://" + other + "\"\"><img src=\"\"http://" + taobao + "\"\">";
    run();

    // The empty picture has no known type: its name falls back to "..JPG".
    EXPECT_EQ(record_.description, "<img src=\"\"http://" + other + "\"\"><img src=\"\"" +
                                       local(taobao, ".JPG") + "\"\">");
    EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(taobao, true) + "..JPG"), "");
    EXPECT_EQ(files_in_folder(), 1u);
    EXPECT_EQ(log_.lines(),
              (std::vector<std::string>{line("  正在下载第:"_gbk, " 个宝贝 描述图片 "_gbk, 1, 2,
                                             "  非淘宝空间图片 已跳过\r\n"_gbk),
                                        downloading(2, 2)}));
    for (const std::string& request : server.request_lines())
        EXPECT_EQ(request.find("/other/"), std::string::npos) << request;
}

TEST_F(LocalizePictures, ChineseCharactersGoOutPercentEncoded) {
    Pictures server({{"/p/%D6%D0%CE%C4.jpg", kJpg}});
    const std::string address = server.at("/p/中文.jpg"_gbk);
    record_.description = "<img src=\"\"http://" + address + "\"\">";
    run();
    EXPECT_EQ(record_.description, "<img src=\"\"" + local(address, "jpg") + "\"\">");
    EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(address, true) + ".jpg"), kJpg);
    for (const std::string& request : server.request_lines())
        EXPECT_EQ(request, "GET /p/%D6%D0%CE%C4.jpg HTTP/1.0");
}

}  // namespace
}  // namespace vq
