// The picture hosts: real picture bytes, found by the addresses the program sends.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim_test_support.hpp"
#include "support/encoding.hpp"
#include "support/text.hpp"

using namespace vq;
using namespace vq::sim;
using simtest::RunningSim;

namespace {

std::string host_of(const PictureRef& pic) {
    return std::string(picture_host_name(pic.host));
}

std::string percent_encoded_non_ascii(std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

TEST(Pictures, EachTypeStartsWithItsSignatureAndIsPadded) {
    SimOptions options;
    options.pictureBytes = 4096;
    RunningSim s(options);
    struct Case {
        const char* extension;
        std::string magic;
        const char* contentType;
    };
    const Case cases[] = {
        {".jpg", "\xFF\xD8\xFF", "image/jpeg"},
        {".png", "\x89PNG\r\n\x1A\n", "image/png"},
        {".gif", "GIF89a", "image/gif"},
        {".bmp", "BM", "image/bmp"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.extension);
        const PictureRef* found = nullptr;
        for (const Product& p : s.sim.catalogue().products()) {
            for (const PictureRef& pic : p.descriptionImages) {
                const bool ascii = std::all_of(pic.path.begin(), pic.path.end(),
                                               [](char ch) { return (ch & 0x80) == 0; });
                if (!found && ascii && pic.exists && pic.htmlQuery.empty() &&
                    pic.path.ends_with(k.extension)) {
                    found = &pic;
                }
            }
        }
        ASSERT_NE(found, nullptr);
        const auto res = s.get(host_of(*found), found->path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 200);
        EXPECT_EQ(res->get_header_value("Content-Type"), k.contentType);
        EXPECT_EQ(res->body.substr(0, k.magic.size()), k.magic);
        EXPECT_GE(res->body.size(), 4096u);
        EXPECT_LT(res->body.size(), 4096u + 256);
    }
}

TEST(Pictures, AddressesAreFoundAsTheProgramSendsThem) {
    RunningSim s;
    const Catalogue& c = s.sim.catalogue();
    const PictureRef *chinese = nullptr, *queried = nullptr, *gone = nullptr;
    for (const Product& p : c.products()) {
        for (const PictureRef& pic : p.descriptionImages) {
            if (!chinese && pic.path.find("详情图") != std::string::npos) chinese = &pic;
            if (!queried && !pic.htmlQuery.empty()) queried = &pic;
            if (!gone && !pic.exists) gone = &pic;
        }
    }
    ASSERT_TRUE(chinese && queried && gone);
    const std::string gbkPath = utf8_to_gbk(chinese->path);
    const PictureRef& main = c.products().front().mainPictures.front();
    const std::string otherHost = main.host == PictureHost::Plain ? "img.taobaocdn" : "img";

    struct Case {
        const char* what;
        std::string host, target;
        bool found;
    };
    const Case cases[] = {
        {"GBK path sent raw", host_of(*chinese), gbkPath, true},
        {"GBK path percent-encoded", host_of(*chinese), percent_encoded_non_ascii(gbkPath), true},
        {"UTF-8 path percent-encoded", host_of(*chinese), percent_encoded_non_ascii(chinese->path),
         false},
        {"query with its &amp; undone", host_of(*queried),
         queried->path + replace_all(queried->htmlQuery, "amp;", ""), true},
        {"query as written in the page", host_of(*queried), queried->path + queried->htmlQuery,
         true},
        {"main picture", host_of(main), main.path, true},
        {"main picture on the other host", otherHost, main.path, false},
        {"picture the description names but nobody has", host_of(*gone), gone->path, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const auto res = s.get(k.host, k.target);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, k.found ? 200 : 404);
        // A missing picture gets an error page, as real picture hosts send.
        EXPECT_EQ(res->body.find("<html") != std::string::npos, !k.found);
        EXPECT_FALSE(res->body.empty());
    }
    // Raw and encoded requests get the very same picture.
    const auto raw = s.get(cases[0].host, cases[0].target);
    const auto encoded = s.get(cases[1].host, cases[1].target);
    ASSERT_TRUE(raw && encoded);
    EXPECT_EQ(raw->body, encoded->body);
}

}  // namespace
