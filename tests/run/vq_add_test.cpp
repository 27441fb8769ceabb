// vq add as a user runs it: the list file it leaves behind, exit codes, Ctrl-C.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "model/list_file.hpp"
#include "run_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using runtest::RunFixture;

class VqAddTest : public RunFixture {
protected:
    // The stand-in, and a home folder whose site.ini points at it.
    void SetUp() override {
        start_sim();
        home = folder.path + "/home";
        std::filesystem::create_directories(home + "/options");
        ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", sim.site_ini()));
        list_file = folder.path + "/list.txt";
    }

    std::string address(const std::string& host, const std::string& path) const {
        return "http://" + host + ".localhost:" + std::to_string(sim.port()) + path;
    }

    // Starts `vq add --home HOME ARGS...` with stdout and stderr going to files.
    pid_t spawn(std::vector<std::string> args) {
        args.insert(args.begin(), {VQ_PATH, "add", "--home", home});
        return runtest::spawn_process(std::move(args), folder.path);
    }

    int wait(pid_t pid) { return runtest::wait_process(pid, folder.path, stdout_text, stderr_text); }

    int run(std::vector<std::string> args) { return wait(spawn(std::move(args))); }

    std::vector<vq::ProductEntry> list_rows() const {
        return vq::read_list_file(list_file).value_or(std::vector<vq::ProductEntry>{});
    }

    // Requests of one kind ("page", "product", ...) the stand-in has seen.
    int requests(const std::string& kind) const {
        const std::string stats = "\n" + sim.stats_text();
        const auto at = stats.find("\n" + kind + " ");
        return at == std::string::npos ? -1 : std::stoi(stats.substr(at + kind.size() + 2));
    }

    std::string home, list_file, stdout_text, stderr_text;
};

TEST_F(VqAddTest, ShopModeAppendsEveryProductOfTheShopAfterTheRowsAlreadyThere) {
    // Shop 2 spreads its products over three listing pages.
    const std::vector<vq::ProductEntry> earlier = {
        {vq::utf8_to_gbk("宝贝甲"), "1.00", "http://example/1", "111"},
        {vq::utf8_to_gbk("宝贝乙"), "", "http://example/2", "222"},
    };
    ASSERT_TRUE(vq::write_list_file(list_file, earlier));

    ASSERT_EQ(run({"--mode", "店铺", "--list", list_file, address("shop2", "/")}), 0) << stderr_text;

    const std::vector<vq::ProductEntry> rows = list_rows();
    const vq::sim::Shop& shop = *sim.catalogue().shop(2);
    ASSERT_EQ(rows.size(), earlier.size() + shop.products.size());
    for (std::size_t i = 0; i < earlier.size(); ++i) {
        EXPECT_EQ(rows[i].offerId, earlier[i].offerId);
        EXPECT_EQ(rows[i].title, earlier[i].title);
    }
    std::vector<std::string> found, expected;
    for (std::size_t i = earlier.size(); i < rows.size(); ++i) found.push_back(rows[i].offerId);
    for (int index : shop.products) {
        expected.push_back(sim.catalogue().products()[static_cast<std::size_t>(index)].offerId);
    }
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    EXPECT_NE(stdout_text.find("宝贝列表：" + list_file + "（47 个宝贝）\n"), std::string::npos)
        << stdout_text;
}

TEST_F(VqAddTest, SingleModeCreatesTheListWithTheProductPage) {
    const vq::sim::Product& product = sim.catalogue().products()[100];
    const std::string page = address("detail", "/offer/" + product.offerId + ".html");
    ASSERT_EQ(run({"--list", list_file, "--mode", "single", page}), 0) << stderr_text;

    const std::vector<vq::ProductEntry> rows = list_rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].offerId, product.offerId);
    EXPECT_EQ(rows[0].address, page);
    EXPECT_EQ(rows[0].price, "");
    EXPECT_TRUE(vq::contains_text(rows[0].title, vq::utf8_to_gbk(" - 阿里巴巴"))) << rows[0].title;
}

TEST_F(VqAddTest, AnAddressThatYieldsNothingLeavesTheListFileAsItWas) {
    // Blank lines and LF ends the list format would not write show that the file was not
    // rewritten.
    const std::string original = vq::utf8_to_gbk("\n\nA||111||1.00||http://example/1\n\n");
    struct Case {
        std::string mode, address, message;
    };
    const Case cases[] = {
        {"单品", address("shop1", "/"), "  地址输入不正确，未识别到宝贝！\n"},
        {"shop", address("detail", "/offer/1.html"), "  店铺地址输入不正确，未识别到宝贝！\n"},
        {"列表", address("shop1", "/search.htm?scid=5&x=1"), "  分类地址输入不正确，未识别到宝贝！\n"},
        {"single", "   ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode + " " + c.address);
        ASSERT_TRUE(vq::write_file_atomic(list_file, original));
        EXPECT_EQ(run({"--mode", c.mode, "--list", list_file, c.address}), 0) << stderr_text;
        EXPECT_EQ(vq::read_file_bytes(list_file).value_or(""), original);
        EXPECT_NE(stdout_text.find(c.message), std::string::npos) << stdout_text;
        EXPECT_NE(stdout_text.find("（1 个宝贝）"), std::string::npos) << stdout_text;
    }
}

// A page that still fails after its tries: the rows of the others are written, the log
// says how many pages failed, and the exit code tells a script that products are missing.
TEST_F(VqAddTest, FailedPagesEndWithExitCodeOneAndKeepTheRowsRead) {
    const struct {
        double errorRate;
        std::uint64_t seed;  // at 0.6: the count page and page 1 come through, page 2 never
        std::size_t rows;
        std::string line;
    } cases[] = {
        {0.6, 2, 20, "  读取 2 页，失败 1 页，添加 20 个宝贝\n"},
        {1.0, 1, 0, "  读取 1 页，失败 1 页，添加 0 个宝贝\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errorRate);
        sim.stop();
        vq::sim::SimOptions options;
        options.productsPerShop = 40;
        options.faults.error = c.errorRate;
        options.seed = c.seed;
        start_sim(options);
        ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", sim.site_ini()));
        std::filesystem::remove(list_file);

        EXPECT_EQ(run({"--mode", "shop", "--list", list_file, address("shop1", "/")}), 1) << stderr_text;
        EXPECT_EQ(list_rows().size(), c.rows);
        EXPECT_NE(stdout_text.find(c.line), std::string::npos) << stdout_text;
        EXPECT_EQ(stdout_text.find("该分类未识别到宝贝"), std::string::npos) << stdout_text;
    }
}

TEST_F(VqAddTest, RefusesBadArgumentsAndUnusableListFilesBeforeFetching) {
    const std::string shop = address("shop1", "/");
    const std::vector<std::vector<std::string>> bad = {
        {"--list", list_file, shop},
        {"--mode", "item", "--list", list_file, shop},
        {"--mode", "店铺", shop},
        {"--mode", "店铺", "--list", list_file},
        {"--mode", "店铺", "--list", list_file, shop, shop},
        {"--mode", "店铺", "--list", list_file, "--shop", shop},
        {"--mode", "店铺", "--list"},
    };
    for (const auto& args : bad) {
        EXPECT_EQ(run(args), 2) << args.size();
        EXPECT_NE(stderr_text.find("usage: vq add"), std::string::npos);
    }

    std::filesystem::create_directories(folder.path + "/a-folder");
    EXPECT_EQ(run({"--mode", "店铺", "--list", folder.path + "/a-folder", shop}), 2);
    EXPECT_NE(stderr_text.find("无法读取宝贝列表文件"), std::string::npos) << stderr_text;
    EXPECT_EQ(run({"--mode", "店铺", "--list", folder.path + "/none/list.txt", shop}), 2);
    EXPECT_NE(stderr_text.find("文件夹不存在"), std::string::npos) << stderr_text;

    EXPECT_EQ(requests("page"), 0);
    EXPECT_FALSE(std::filesystem::exists(list_file));
}

// A line the list cannot read would be dropped by the rewrite: the add refuses instead,
// naming each such line, and neither fetches nor writes anything.
TEST_F(VqAddTest, RefusesAListHoldingLinesItCannotRead) {
    const std::string original = vq::utf8_to_gbk(
        "导出的宝贝列表\r\nA||111||1.00||http://example/1\r\n\r\nB||2||3||4||http://example/2\r\n");
    ASSERT_TRUE(vq::write_file_atomic(list_file, original));
    EXPECT_EQ(run({"--mode", "店铺", "--list", list_file, address("shop1", "/")}), 2);
    EXPECT_EQ(stderr_text, "列表文件第 1 行无法识别：" + list_file + "\n列表文件第 4 行无法识别：" +
                               list_file + "\n");
    EXPECT_EQ(vq::read_file_bytes(list_file).value_or(""), original);
    EXPECT_EQ(requests("page"), 0);
}

// A FIFO would block the command before it fetched anything, /dev/zero fill its memory.
TEST_F(VqAddTest, RefusesAListThatIsNoRegularFile) {
    ASSERT_EQ(::mkfifo(list_file.c_str(), 0600), 0);
    EXPECT_EQ(run({"--mode", "店铺", "--list", list_file, address("shop1", "/")}), 2);
    EXPECT_EQ(stderr_text, "宝贝列表文件不是普通文件：" + list_file + "\n");
    std::filesystem::remove(list_file);
    std::filesystem::create_symlink("/dev/zero", list_file);
    EXPECT_EQ(run({"--mode", "店铺", "--list", list_file, address("shop1", "/")}), 2);
    EXPECT_EQ(stderr_text, "宝贝列表文件不是普通文件：" + list_file + "\n");
    EXPECT_EQ(requests("page"), 0);
}

TEST_F(VqAddTest, InterruptStopsTheReadersAndWritesNothing) {
    const std::vector<vq::ProductEntry> earlier = {{"A", "", "http://example/1", "111"}};
    ASSERT_TRUE(vq::write_list_file(list_file, earlier));
    const std::string before = vq::read_file_bytes(list_file).value_or("");

    // The readers' pages wait at the stand-in's gate, so the interrupt lands while they read.
    sim.hold_requests("page", "pageNum=");
    const pid_t pid = spawn({"--mode", "店铺", "--list", list_file, address("shop1", "/")});
    const bool reading = sim.wait_held(1);
    kill(pid, SIGINT);
    ASSERT_TRUE(reading);
    EXPECT_EQ(wait(pid), 130) << stdout_text << stderr_text;
    EXPECT_EQ(vq::read_file_bytes(list_file).value_or(""), before);
    EXPECT_EQ(stdout_text.find("宝贝列表："), std::string::npos);
}

}  // namespace
