// The server as a whole: request counting, the catalogue, and the program on its own.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "model/list_file.hpp"
#include "sim_test_support.hpp"
#include "support/encoding.hpp"
#include "support/xml_document.hpp"

extern char** environ;

using namespace vq;
using namespace vq::sim;
using simtest::RunningSim;

namespace {

bool has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(Server, StatsCountEveryRequestByKindAndTarget) {
    RunningSim s;
    s.get("shop1", "/page/offerlist.htm?&pageNum=1");
    s.get("shop1", "/page/offerlist.htm?&pageNum=1");
    s.get("shop1", "/page/offerlist.htm?&pageNum=2");
    s.get("img", utf8_to_gbk("/desc/图.jpg"));
    s.get("config", "//logo.xml");
    s.get("nowhere", "/");

    const auto stats = s.get("shop1", "/__stats");
    ASSERT_TRUE(stats);
    const std::string& text = stats->body;
    for (const char* line :
         {"gateway 0", "page 3", "product 0", "picture 1", "config 1", "other 1", "fault-error 0",
          "page 2 shop1.localhost /page/offerlist.htm?&pageNum=1",
          "page 1 shop1.localhost /page/offerlist.htm?&pageNum=2",
          "picture 1 img.localhost /desc/\\xCD\\xBC.jpg", "config 1 config.localhost //logo.xml"}) {
        EXPECT_TRUE(has_line(text, line)) << line << "\n" << text;
    }

    ASSERT_TRUE(s.get("gw", "/__reset"));
    const std::string after = s.get("gw", "/__stats")->body;
    EXPECT_TRUE(has_line(after, "page 0"));
    EXPECT_EQ(after.find("shop1.localhost"), std::string::npos);
}

TEST(Server, CatalogueFollowsTheSeed) {
    const CatalogueOptions one{1, 4, 45, 2}, two{2, 4, 45, 2};
    const std::string a = Catalogue::generate(one).describe(80);
    EXPECT_EQ(Catalogue::generate(one).describe(80), a);
    EXPECT_NE(Catalogue::generate(two).describe(80), a);

    RunningSim s;
    const auto served = s.get("anything", "/__catalog");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->body, s.sim.catalogue().describe(s.port));
    EXPECT_TRUE(has_line(served->body, "shop\t2\tshop2.localhost:" + std::to_string(s.port) +
                                           "\t旺铺\t45\t3\tupper\tpage-count"));
}

TEST(Server, RefusesAPortInUse) {
    RunningSim first;
    SimOptions options;
    options.port = first.port;
    MarketplaceSim second;
    EXPECT_EQ(second.start(options), -1);
}

TEST(Server, ProgramPrintsItsPortServesAndStopsOnSigterm) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("marketplace-sim-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string ini = (dir / "site.ini").string();

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string list = (dir / "list.txt").string();
    const char* argv[] = {"marketplace-sim",     "--port",      "0",
                          "--keys",              "3",           "--site-ini",
                          ini.c_str(),           "--products-per-shop", "7",
                          "--list-file",         list.c_str(),  "--list-shop",
                          "2",                   "--items-per-page",    "3",
                          nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, MARKETPLACE_SIM_PATH, &actions, nullptr,
                          const_cast<char* const*>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    std::string first;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') first += c;
    close(out[0]);
    const int port = std::atoi(first.c_str());
    EXPECT_GT(port, 0) << first;

    if (port > 0) {
        httplib::Client client("127.0.0.1", port);
        const auto res =
            client.Get("/logo.xml", {{"Host", "config.localhost:" + std::to_string(port)}});
        ASSERT_TRUE(res);
        XmlDocument doc;
        ASSERT_TRUE(doc.load_bytes(res->body));
        EXPECT_EQ(doc.child_count("@1"), 3);
        EXPECT_EQ(doc.attribute_text("@1/@2", "appkey").size(), 7u);
        EXPECT_EQ(doc.attribute_text("@1/@2", "appsecret").size(), 12u);

        std::ifstream file(ini, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        const std::string p = std::to_string(port);
        EXPECT_EQ(text.str(), "[SITE]\r\nconfig_server=http://config.localhost:" + p +
                                  "/\r\ngateway_host=gw.localhost:" + p +
                                  "\r\nwholesale_detail_host=detail.localhost:" + p +
                                  "\r\nmall_detail_host=detail.tmall.localhost:" + p +
                                  "\r\nitem_host=item.localhost:" + p +
                                  "\r\nexample_shop=http://shop1.localhost:" + p + "/\r\n");

        // 7 products at 3 a page: 3 pages rather than 1.
        const auto listing = client.Get("/__catalog", {{"Host", "shop2.localhost:" + p}});
        ASSERT_TRUE(listing);
        EXPECT_TRUE(has_line(listing->body,
                             "shop\t2\tshop2.localhost:" + p + "\t旺铺\t7\t3\tupper\tpage-count"));

        // The list of shop 2, ready before the port was printed.
        const auto rows = read_list_file(list);
        ASSERT_TRUE(rows.has_value());
        const auto catalogue = sim::Catalogue::generate({1, 4, 7, 3});
        const auto& shop = *catalogue.shop(2);
        ASSERT_EQ(rows->size(), shop.products.size());
        for (std::size_t i = 0; i < rows->size(); ++i) {
            const auto& product = catalogue.products()[static_cast<std::size_t>(shop.products[i])];
            EXPECT_EQ((*rows)[i].offerId, product.offerId);
            EXPECT_EQ((*rows)[i].title, utf8_to_gbk(product.title));
            EXPECT_EQ((*rows)[i].address,
                      "http://detail.localhost:" + p + "/offer/" + product.offerId + ".html");
        }
    }

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
