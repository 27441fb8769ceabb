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
#include "support/text.hpp"

namespace vq {
namespace {

using test::CaptureServer;

TEST(RewriteDescriptionText, Table) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        // What the seller wrote: one quote for "&quot;", and no package escaping.
        {"a&quot;b", "a\"b"},
        {"<img src=\"x\">", "<img src=\"x\">"},
        {"it&apos;s A&amp;B &amp;amp; &amp;lt;b&amp;gt;", "it's A&B &amp; &lt;b&gt;"},
        {"1,2", "1，2"_gbk},
        {"&lt;p&gt;", "<p>"},
        {"a&amp;nbsp;b", "a b"},
        {"&amp;ldquo;x&amp;rdquo;&amp;hellip;&amp;mdash;", "“x”…—"_gbk},
        {"a\r\nb\nc\rd", "abc\rd"},
        // Entities decode once only; a line break inside one does not join it up.
        {"&amp;lt; &amp;quot; &amp;nb\nsp;", "&lt; &quot; &nbsp;"},
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
    DescriptionMatchers chinese;
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

// A picture server: path -> body; unknown paths answer a 404 page, as real hosts do.
class Pictures {
public:
    explicit Pictures(std::map<std::string, std::string> bodies)
        : bodies_(std::move(bodies)), server_([this](const std::string& request) {
              const auto from = request.find(' ') + 1;
              const std::string path = request.substr(from, request.find(' ', from) - from);
              const auto it = bodies_.find(path);
              if (it != bodies_.end()) return CaptureServer::ok(it->second);
              const std::string page = "<html><body>404 Not Found</body></html>";
              return "HTTP/1.1 404 Not Found\r\nContent-Length: " + std::to_string(page.size()) +
                     "\r\n\r\n" + page;
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
        context_.pictureFailurePolicy = FailurePolicy::KeepAddress;
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
    record_.description = "<p>text</p><img src=\"/local.jpg\">";
    run();
    EXPECT_EQ(record_.description, "<p>text</p><img src=\"/local.jpg\">");
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_FALSE(file_exists(folder()));
}

TEST_F(LocalizePictures, ImgTagsThenBackgroundsSavedAndPointedAtLocalCopies) {
    Pictures server({{"/p/a.jpg?x=1&y=2", kJpg}, {"/p/b.gif", kGif}});
    // The description holds the address as the seller wrote it; the picture is named from
    // the answer's form of it, "&amp;" included.
    const std::string written = server.at("/p/a.jpg?x=1&y=2");
    const std::string a = server.at("/p/a.jpg?x=1&amp;y=2");
    const std::string b = server.at("/p/b.gif");
    // Lower-case tag, the same picture twice, and a background in upper-case scheme.
    record_.description = "<img src=\"http://" + written + "\"><IMG alt=\"\" src=\"http://" +
                          written + "\"><td background=\"HTTP://" + b + "\">";
    run();

    EXPECT_EQ(record_.description, "<img src=\"" + local(a, "jpg") +
                                       "\"><IMG alt=\"\" src=\"" + local(a, "jpg") +
                                       "\"><td background=\"" + local(b, "gif") + "\">");
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
        "<img src=\"http://" + a + "\" x><td background=\"http://" + b + "\">";
    const std::string z1 = " 个宝贝 描述图片 字节集为0 已经删除 "_gbk;
    const std::string z2 = " 个宝贝 描述图片 字节集为0 正在重新下载 "_gbk;
    const std::string z3 = " 个宝贝 描述图片 字节集为0 重新下载失败===已经删除图片 "_gbk;
    const std::string removed = "<img src=\"\" x><td background=\"\">";
    struct Case {
        FailurePolicy policy;
        std::string description;
        std::vector<std::string> lines;
        std::size_t requests;
    } cases[] = {
        {FailurePolicy::KeepAddress, description, {downloading(1, 1), downloading(1, 1)}, 2},
        {FailurePolicy::None, description, {downloading(1, 1), downloading(1, 1)}, 2},
        {FailurePolicy::Remove,
         removed,
         {downloading(1, 1), line("  第:"_gbk, z1, 1, 1), downloading(1, 1),
          line("  第:"_gbk, z1, 1, 1)},
         2},
        // The retry is made; only the background pass reports that it failed too.
        {FailurePolicy::RetryThenRemove,
         removed,
         {downloading(1, 1), line("  第:"_gbk, z2, 1, 1), downloading(1, 1),
          line("  第:"_gbk, z2, 1, 1), line("  第:"_gbk, z3, 1, 1)},
         4},
    };
    std::size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.policy));
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

TEST_F(LocalizePictures, TaobaoOnlySkipsOtherHostsAndAppliesThePolicyToMissingPictures) {
    Pictures server({{"/other/a.jpg", kJpg}, {"/taobao/b.gif", kGif}});
    const std::string other = server.at("/other/a.jpg");
    const std::string taobao = server.at("/taobao/b.gif");
    const std::string missing = server.at("/taobao/gone.png");
    options_.taobaoOnly = true;
    context_.pictureFailurePolicy = FailurePolicy::Remove;
    record_.description = "<img src=\"http://" + other + "\"><img src=\"http://" + taobao +
                          "\"><img src=\"http://" + missing + "\">";
    run();

    // A missing picture is neither saved as an empty file nor pointed at: it is removed.
    EXPECT_EQ(record_.description, "<img src=\"http://" + other + "\"><img src=\"" +
                                       local(taobao, "gif") + "\"><img src=\"\">");
    EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(taobao, true) + ".gif"), kGif);
    EXPECT_EQ(files_in_folder(), 1u);
    EXPECT_EQ(record_.failedPictures, 1);
    EXPECT_EQ(log_.lines(),
              (std::vector<std::string>{line("  正在下载第:"_gbk, " 个宝贝 描述图片 "_gbk, 1, 3,
                                             "  非淘宝空间图片 已跳过\r\n"_gbk),
                                        downloading(2, 3), downloading(3, 3),
                                        line("  第:"_gbk, " 个宝贝 描述图片 字节集为0 已经删除 "_gbk,
                                             3, 3)}));
    for (const std::string& request : server.request_lines())
        EXPECT_EQ(request.find("/other/"), std::string::npos) << request;
}

// An address that starts another one, and two that differ only in case, are three
// pictures: each tag ends up at its own file holding its own bytes.
TEST_F(LocalizePictures, OverlappingAndCaseTwinAddressesStayApart) {
    const std::string small = kJpg + "small", big = kJpg + "big", upper = kJpg + "upper";
    Pictures server({{"/p/a.jpg", big}, {"/p/a.jpg_100x100.jpg", small}, {"/p/A.jpg", upper}});
    const std::string a = server.at("/p/a.jpg");
    const std::string a_small = server.at("/p/a.jpg_100x100.jpg");
    const std::string a_upper = server.at("/p/A.jpg");
    for (const FailurePolicy policy : {FailurePolicy::KeepAddress, FailurePolicy::Remove}) {
        SCOPED_TRACE(static_cast<int>(policy));
        context_.pictureFailurePolicy = policy;
        record_.description = "<img src=\"http://" + a + "\"><img src=\"http://" + a_small +
                              "\"><IMG src=\"http://" + a_upper + "\"><img src=\"http://" +
                              a + "\">";
        run();
        EXPECT_EQ(record_.description,
                  "<img src=\"" + local(a, "jpg") + "\"><img src=\"" + local(a_small, "jpg") +
                      "\"><IMG src=\"" + local(a_upper, "jpg") + "\"><img src=\"" +
                      local(a, "jpg") + "\">");
        EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(a, true) + ".jpg"), big);
        EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(a_small, true) + ".jpg"), small);
        EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(a_upper, true) + ".jpg"), upper);
        EXPECT_EQ(files_in_folder(), 3u);
    }

    // A missing picture whose address starts a good one's is removed alone.
    Pictures partial({{"/p/b.jpg_100x100.jpg", small}});
    const std::string b = partial.at("/p/b.jpg");
    const std::string b_small = partial.at("/p/b.jpg_100x100.jpg");
    context_.pictureFailurePolicy = FailurePolicy::Remove;
    record_.failedPictures = 0;
    record_.description =
        "<img src=\"http://" + b + "\"><img src=\"http://" + b_small + "\">";
    run();
    EXPECT_EQ(record_.description, "<img src=\"\"><img src=\"" + local(b_small, "jpg") + "\">");
    EXPECT_EQ(record_.failedPictures, 1);
}

// A title too long for one file name, and a package folder holding a quote and a percent
// sign: the pictures are still saved, and the local addresses name them.
TEST_F(LocalizePictures, LongTitlesAndOddFolderNamesStillGetTheirPictures) {
    Pictures server({{"/p/a.jpg", kJpg}});
    const std::string a = server.at("/p/a.jpg");
    context_.packageFolder = root_ + "/pk\"g 50%";
    std::string title;
    for (int i = 0; i < 90; ++i) title += "长"_gbk;
    record_.title = title + "\"x";
    record_.description = "<img src=\"http://" + a + "\">";
    run();

    const std::string name = product_folder_name(record_.title);
    EXPECT_EQ(gbk_to_utf8(name).size(), 255u);  // 85 whole characters of 3 bytes
    EXPECT_EQ(name, left_text(title, 170));
    const std::string path = context_.packageFolder + "/" + name + "/" + md5_text(a, true) + ".jpg";
    EXPECT_EQ(read_file_bytes(path), kJpg);
    const std::string address = "file://" + root_ + "/pk%22g 50%25/" + name + "/" +
                                md5_text(a, true) + ".jpg";
    EXPECT_EQ(record_.description, "<img src=\"" + address + "\">");
    EXPECT_EQ(record_.failedPictures, 0);
}

TEST_F(LocalizePictures, AFolderThatCannotBeMadeIsAFailedPictureNotASilentOne) {
    Pictures server({{"/p/a.jpg", kJpg}});
    const std::string a = server.at("/p/a.jpg");
    ASSERT_TRUE(write_file_atomic(root_ + "/pkg", "a file where the package folder goes"));
    record_.description = "<img src=\"http://" + a + "\">";
    run();
    EXPECT_EQ(record_.description, "<img src=\"http://" + a + "\">");
    EXPECT_EQ(record_.failedPictures, 1);
    EXPECT_EQ(log_.lines().back(),
              line("  第:"_gbk, " 个宝贝 描述图片 无法写入文件 保留原图片地址 "_gbk, 1, 1));
}

TEST_F(LocalizePictures, ChineseCharactersGoOutPercentEncoded) {
    Pictures server({{"/p/%D6%D0%CE%C4.jpg", kJpg}});
    const std::string address = server.at("/p/中文.jpg"_gbk);
    record_.description = "<img src=\"http://" + address + "\">";
    run();
    EXPECT_EQ(record_.description, "<img src=\"" + local(address, "jpg") + "\">");
    EXPECT_EQ(read_file_bytes(folder() + "/" + md5_text(address, true) + ".jpg"), kJpg);
    // Raw and encoded, the type fetch and the saving fetch are one request on the wire.
    EXPECT_EQ(server.request_lines(),
              std::vector<std::string>{"GET /p/%D6%D0%CE%C4.jpg HTTP/1.0"});
}

}  // namespace
}  // namespace vq
