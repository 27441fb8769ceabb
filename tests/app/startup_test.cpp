#include "app/startup.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "net/capture_server.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {
namespace {

using test::CaptureServer;

TEST(RemoteConfiguration, EveryChildGivesOnePairInOrder) {
    CaptureServer server(CaptureServer::ok(
        "<?xml version=\"1.0\"?>\r\n<logo>\r\n"
        "  <k appkey=\"100\" appsecret=\"s1\"/>\r\n"
        "  <k appsecret=\"s2\" appkey=\"200\"/>\r\n"
        "  <k appkey=\"300\"/>\r\n"
        "</logo>\r\n"));
    BatchState state;
    EXPECT_EQ(load_remote_configuration(state, server.base()), 3);
    ASSERT_EQ(state.credentials().size(), 3u);
    const auto pairs = state.credentials();
    EXPECT_EQ(pairs[0].appkey, "100");
    EXPECT_EQ(pairs[0].appsecret, "s1");
    EXPECT_EQ(pairs[1].appkey, "200");
    EXPECT_EQ(pairs[1].appsecret, "s2");
    EXPECT_EQ(pairs[2].appkey, "300");
    EXPECT_EQ(pairs[2].appsecret, "");
    EXPECT_EQ(server.head().substr(0, 24), "GET /logo.xml HTTP/1.1\r\n");
}

TEST(RemoteConfiguration, NoPairsFromUnusableAnswers) {
    for (const char* body : {"<logo></logo>", "<logo/>", "", "not a document <", "<a><b></a>"}) {
        SCOPED_TRACE(body);
        CaptureServer server(CaptureServer::ok(body));
        BatchState state;
        EXPECT_EQ(load_remote_configuration(state, server.base()), 0);
        EXPECT_TRUE(state.credentials().empty());
    }
}

TEST(RemoteConfiguration, NoPairsFromAnUnreachableServer) {
    // A bound socket that never listens refuses connections at once.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    BatchState state;
    EXPECT_EQ(load_remote_configuration(
                  state, "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port))),
              0);
    ::close(fd);
}

TEST(ConfigurationSource, WebAddressesAndLocalFiles) {
    const std::string ini = "/home/u/vq/options/site.ini";
    const struct {
        std::string server;
        bool local;
        std::string location;
    } cases[] = {
        {"http://cfg.example/", false, "http://cfg.example//logo.xml"},
        {"HTTPS://cfg.example", false, "HTTPS://cfg.example/logo.xml"},
        {"file:///etc/vq/keys.xml", true, "/etc/vq/keys.xml"},
        {"file://localhost/etc/vq/my%20keys.xml", true, "/etc/vq/my keys.xml"},
        {"/etc/vq/keys.xml", true, "/etc/vq/keys.xml"},
        {"keys.xml", true, "/home/u/vq/options/keys.xml"},
        {"../keys/k.xml", true, "/home/u/vq/options/../keys/k.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        const ConfigurationSource source = configuration_source(c.server, ini);
        EXPECT_EQ(source.local, c.local);
        EXPECT_EQ(source.location, c.location);
    }
}

TEST(ConfigurationSource, KeyPairsFromALocalFile) {
    char pattern[] = "/tmp/vq-config-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    ASSERT_TRUE(write_file_atomic(dir + "/keys.xml",
                                  "<logo><k appkey=\"1\" appsecret=\"a\"/><k appkey=\"2\" appsecret=\"b\"/></logo>"));
    for (const std::string& server : {std::string("keys.xml"), dir + "/keys.xml", "file://" + dir + "/keys.xml"}) {
        SCOPED_TRACE(server);
        BatchState state;
        EXPECT_EQ(load_remote_configuration(state, server, dir + "/site.ini"), 2);
        EXPECT_EQ(state.credentials()[1].appsecret, "b");
    }
    BatchState state;
    EXPECT_EQ(load_remote_configuration(state, dir + "/missing.xml", dir + "/site.ini"), 0);
    // The note says what was tried and who named it, or that nobody did.
    EXPECT_EQ(configuration_source_note("keys.xml", dir + "/site.ini"),
              "配置来源："_gbk + dir + "/keys.xml（"_gbk + dir + "/site.ini 不存在，使用默认地址）"_gbk);
    ASSERT_TRUE(write_file_atomic(dir + "/site.ini", "[SITE]\r\n"));
    EXPECT_EQ(configuration_source_note("keys.xml", dir + "/site.ini"),
              "配置来源："_gbk + dir + "/keys.xml（由 "_gbk + dir + "/site.ini 指定）"_gbk);
    std::filesystem::remove_all(dir);
}

class FixedClock final : public Clock {
public:
    LocalDateTime now() const override { return {2014, 3, 18, 9, 5, 7, 123}; }
};

TEST(OutputPath, DefaultIsTheProgramFolderAndASecondsStamp) {
    for (const char* folder : {"/opt/vq", "/opt/vq/"}) {
        EXPECT_EQ(default_output_path(folder, FixedClock()), "/opt/vq/aliT1395104707.csv");
    }
}

TEST(OutputPath, FolderAndNameFromTheChosenPath) {
    struct Case {
        std::string chosen;
        bool ok;
        std::string path, folder, name;
    } cases[] = {
        {"/pkg/shop.a.csv", true, "/pkg/shop.a.csv", "/pkg/", "shop"},
        {"/pkg/shop", true, "/pkg/shop.csv", "/pkg/", "shop"},
        {"/pkg/" + "店铺"_gbk + ".csv", true, "/pkg/" + "店铺"_gbk + ".csv", "/pkg/", "店铺"_gbk},
        {"/ver1.2/shop", false, "", "/ver1.2/", ""},
        {".csv", false, "", "", ""},
        {"/pkg/.csv", false, "", "/pkg/", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        const OutputPathChoice choice = derive_output_path(c.chosen);
        EXPECT_EQ(choice.ok, c.ok);
        EXPECT_EQ(choice.path, c.path);
        EXPECT_EQ(choice.folder, c.folder);
        EXPECT_EQ(choice.name, c.name);
        EXPECT_EQ(choice.message, c.ok ? std::string() : "请检查文件名是否正确！"_gbk);
    }
}

}  // namespace
}  // namespace vq
