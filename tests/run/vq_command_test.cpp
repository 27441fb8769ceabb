// The vq command as a user runs it: help and exit codes, the totals it prints, Ctrl-C.

#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <thread>

#include "cli/cli_common.hpp"
#include "model/list_file.hpp"
#include "run_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using runtest::RunFixture;

class VqCommandTest : public RunFixture {
protected:
    // A home folder whose site.ini points at the stand-in, and a list file of products.
    void prepare(int products, const std::string& site_ini) {
        home = folder.path + "/home";
        std::filesystem::create_directories(home + "/options");
        ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", site_ini));
        fill_list(products);
        list_file = folder.path + "/list.txt";
        ASSERT_TRUE(vq::write_list_file(list_file, list.rows()));
    }

    // Starts vq with stdout and stderr going to files; returns its pid.
    pid_t spawn(std::vector<std::string> args) {
        args.insert(args.begin(), VQ_PATH);
        return runtest::spawn_process(std::move(args), folder.path);
    }

    int wait(pid_t pid) { return runtest::wait_process(pid, folder.path, stdout_text, stderr_text); }

    int run(std::vector<std::string> args) { return wait(spawn(std::move(args))); }

    std::string home, list_file, stdout_text, stderr_text;
};

// Help and the version go to stdout with 0; wrong arguments to stderr with 2, stdout empty.
TEST_F(VqCommandTest, HelpAndVersionGoToStdoutAndWrongArgumentsToStderr) {
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string shows;  // in stdout for 0, in stderr otherwise
    };
    const Case cases[] = {
        {{"--help"}, 0, "vq help <command> or vq <command> --help"},
        {{"help"}, 0, "usage: vq <command>"},
        {{"--version"}, 0, "vq (VelmoraQuillet) " VQ_VERSION "\n"},
        {{"add", "--mode", "single", "--help"}, 0, "130 stopped with Ctrl-C (the list file"},
        {{"copy", "--list", "list.txt", "-h"}, 0, "1 the package could not be written"},
        {{"help", "check"}, 0, "exit codes: 0 nothing wrong\n            1 problems found"},
        // Each value of the choices is explained.
        {{"help", "copy"},
         0,
         "--format 4|5|6          4: the 1688 assistant's UTF-16 tab table; 5: the Taobao"},
        {{"help", "copy"}, 0, "a description picture that could not be fetched: 1 keeps its web\n"},
        {{"help", "add"},
         0,
         "--mode 单品|列表|店铺   what ADDRESS is: 单品 (single) a product page"},
        {{}, 2, "usage: vq <command>"},
        {{"bogus"}, 2, "vq: unknown command: bogus\nusage: vq <command>"},
        {{"help", "bogus"}, 2, "vq: help takes one command name"},
        // The wrong argument is named, then the usage follows.
        {{"add", "--mode", "nope", "--list", "list.txt", "http://x/"},
         2,
         "vq add: --mode: nope is not one of 单品, 列表, 店铺, single, list, shop\nusage: vq add"},
        {{"add", "--mode", "店铺", "--list", "list.txt"},
         2,
         "vq add: ADDRESS is required\nusage: vq add"},
        {{"add", "--mode", "shop", "--list", "list.txt", "http://x/", "-v"},
         2,
         "vq add: unknown option: -v\n"},
        {{"copy", "--list", "list.txt", "--format", "7"},
         2,
         "vq copy: --format: 7 is not one of 4, 5, 6\nusage: vq copy --list FILE"},
        {{"copy", "--list", "list.txt", "--policy", "9"},
         2,
         "vq copy: --policy: 9 is not one of 1, 2, 3\n"},
        {{"copy", "--list", "list.txt", "--policy", "03"},
         2,
         "vq copy: --policy: 03 is not one of"},
        // A misspelt option is named rather than the required one it hides.
        {{"copy", "--lsit", "list.txt"}, 2, "vq copy: unknown option: --lsit\nusage: vq copy"},
        {{"copy", "--list", "list.txt", "--bogus=1"}, 2, "vq copy: unknown option: --bogus\n"},
        {{"copy", "--format", "4"}, 2, "vq copy: --list is required\nusage: vq copy"},
        {{"copy", "--list", ""}, 2, "vq copy: --list: must not be empty\n"},
        {{"copy", "--list", "list.txt", "--out"}, 2, "vq copy: --out: "},
        {{"check", "a.csv", "b.csv"},
         2,
         "vq check: unexpected argument: b.csv\nusage: vq check PACKAGE.csv\n"},
        {{"check", "--all", "a.csv"}, 2, "vq check: unknown option: --all\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(run(c.args), c.code);
        const std::string& shown = c.code == 0 ? stdout_text : stderr_text;
        const std::string& quiet = c.code == 0 ? stderr_text : stdout_text;
        EXPECT_NE(shown.find(c.shows), std::string::npos) << shown;
        EXPECT_EQ(quiet, "");
    }
    // Both ways of asking give the same text.
    for (const std::string command : {"add", "copy", "check"}) {
        ASSERT_EQ(run({"help", command}), 0);
        const std::string help = stdout_text;
        EXPECT_TRUE(help.starts_with("usage: vq " + command)) << help;
        EXPECT_EQ(run({command, "--help"}), 0);
        EXPECT_EQ(stdout_text, help);
    }
}

TEST_F(VqCommandTest, CopiesAListAndPrintsTheTotals) {
    start_sim();
    prepare(6, sim.site_ini());
    const std::string out = folder.path + "/out/shop.csv";
    std::filesystem::create_directories(folder.path + "/out");
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", out, "--home", home, "--format", "4",
                   "--desc-pictures", "--log", folder.path + "/run.log"}),
              0)
        << stderr_text;
    EXPECT_NE(stdout_text.find("下载总数： 6\n成功下载： 6\n下载失败： 0\n图片失败："), std::string::npos)
        << stdout_text;
    EXPECT_NE(stdout_text.find("文件写成功！"), std::string::npos);
    EXPECT_NE(stdout_text.find("\n数据包：" + out + "\n图片文件夹：" + folder.path + "/out/shop\n"),
              std::string::npos)
        << stdout_text;
    const auto package = vq::read_file_bytes(out);
    ASSERT_TRUE(package);
    EXPECT_EQ(package->substr(0, 2), "\xFF\xFE");
    EXPECT_TRUE(std::filesystem::is_directory(folder.path + "/out/shop"));
    // The log file keeps the lines as the program writes them: GBK with CR LF.
    const auto raw_log = vq::read_file_bytes(folder.path + "/run.log");
    ASSERT_TRUE(raw_log);
    EXPECT_NE(raw_log->find(vq::utf8_to_gbk("文件写成功！\r\n")), std::string::npos);

    // Without --out the package gets a made-up name in the program folder: it is said.
    ASSERT_EQ(run({"copy", "--list", list_file, "--home", home}), 0) << stderr_text;
    const std::string shown = "\n数据包：";
    const auto at = stdout_text.find(shown);
    ASSERT_NE(at, std::string::npos) << stdout_text;
    const auto start = at + shown.size();
    const std::string path = stdout_text.substr(start, stdout_text.find('\n', start) - start);
    EXPECT_TRUE(path.starts_with(home + "/aliT") && path.ends_with(".csv")) << path;
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
    const std::string pictures = path.substr(0, path.size() - 4);
    EXPECT_NE(stdout_text.find("\n图片文件夹：" + pictures + "\n"), std::string::npos)
        << stdout_text;
    EXPECT_TRUE(std::filesystem::is_directory(pictures));
}

// vq copy checks what it wrote; vq check says the same of a package, and what broke it.
TEST_F(VqCommandTest, CopyChecksItsPackageAndCheckFindsWhatBreaksOne) {
    vq::sim::SimOptions options;
    options.hostile = true;
    start_sim(options);
    prepare(6, sim.site_ini());
    const std::string out = folder.path + "/shop.csv";
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", out, "--home", home, "--desc-pictures",
                   "--policy", "2"}),
              0)
        << stderr_text;
    // Products 1 and 4 each have a main picture answering 404 and one answering nothing;
    // product 5's description names a picture nobody has.
    EXPECT_NE(stdout_text.find("下载失败： 0\n图片失败：5\n检查：宝贝 6 个，主图 "), std::string::npos)
        << stdout_text;
    EXPECT_NE(stdout_text.find("问题 0 个\n"), std::string::npos);

    EXPECT_EQ(run({"check", out}), 0) << stderr_text;
    EXPECT_TRUE(stdout_text.starts_with("检查：宝贝 6 个，")) << stdout_text;
    // Titles too long for the seller platform are warned of after the summary; the exit
    // code stays 0.
    EXPECT_NE(stdout_text.find("问题 0 个\n提醒：第 "), std::string::npos) << stdout_text;
    EXPECT_NE(stdout_text.find("\n提醒：标题超过 60 字节的宝贝 "), std::string::npos);

    const auto rows = runtest::read_package_strictly(out, folder.path);
    ASSERT_EQ(rows.size(), 6u);
    const std::string first = vq::split_text(rows[2][28], ":")[0];
    ASSERT_TRUE(vq::write_file_atomic(folder.path + "/shop/" + first + ".tbi", "<html>404</html>"));
    EXPECT_EQ(run({"check", out}), 1);
    EXPECT_NE(stdout_text.find("第 "), std::string::npos);
    EXPECT_NE(stdout_text.find("主图 " + first + ".tbi 不是图片"), std::string::npos) << stdout_text;
    EXPECT_NE(stdout_text.find("问题 1 个"), std::string::npos);

    ASSERT_TRUE(vq::write_file_atomic(out, "not a package"));
    EXPECT_EQ(run({"check", out}), 2);
    EXPECT_NE(stderr_text.find("不是数据包文件"), std::string::npos);
    EXPECT_EQ(run({"check", folder.path + "/none.csv"}), 2);
    EXPECT_EQ(run({"check"}), 2);
}

// A list naming each product twice packages each once; the repeats are counted apart from
// the failures.
TEST_F(VqCommandTest, EachProductIsPackagedOnceHoweverOftenTheListNamesIt) {
    start_sim();
    prepare(2, sim.site_ini());
    std::vector<vq::ProductEntry> twice = list.rows();
    twice.push_back(twice[1]);
    twice.push_back(twice[0]);
    ASSERT_TRUE(vq::write_list_file(list_file, twice));
    const std::string out = folder.path + "/twice.csv";
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", out, "--home", home}), 0) << stderr_text;
    EXPECT_NE(stdout_text.find("下载总数： 4\n成功下载： 2\n下载失败： 0\n图片失败：0\n重复跳过：2\n"),
              std::string::npos) << stdout_text;
    EXPECT_NE(stdout_text.find(" 个宝贝与第 1 个宝贝ID相同，已跳过！\n"), std::string::npos) << stdout_text;
    EXPECT_EQ(runtest::read_package_strictly(out, folder.path).size(), 2u);
    EXPECT_EQ(gateway_requests(), 2);
    EXPECT_EQ(run({"check", out}), 0) << stdout_text;

    // Without repeats the totals have no such line.
    ASSERT_TRUE(vq::write_list_file(list_file, list.rows()));
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", out, "--home", home, "--overwrite"}), 0)
        << stderr_text;
    EXPECT_EQ(stdout_text.find("重复跳过"), std::string::npos) << stdout_text;
}

// Key pairs the gateway refuses: the log says so in words a user can act on, and a run in
// which nothing succeeded writes no package (an empty one would pass for a finished run).
TEST_F(VqCommandTest, RefusedKeysAreSaidAndARunWithoutAnyProductWritesNoPackage) {
    start_sim();
    prepare(3, sim.site_ini());
    std::string keys = "<logo>";
    for (const auto& key : sim.catalogue().keys()) {
        keys += "<k appkey=\"" + key.appkey + "\" appsecret=\"wrong\"/>";
    }
    ASSERT_TRUE(vq::write_file_atomic(home + "/options/my-keys.xml", keys + "</logo>"));
    std::string ini = sim.site_ini();
    const auto at = ini.find("config_server=");
    ini.replace(at, ini.find("\r\n", at) - at, "config_server=my-keys.xml");
    ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", ini));
    const std::string out = folder.path + "/refused.csv";

    EXPECT_EQ(run({"copy", "--list", list_file, "--out", out, "--home", home}), 1) << stdout_text;
    EXPECT_NE(stdout_text.find("个宝贝 接口密钥被拒绝：Signature is invalid\n"), std::string::npos)
        << stdout_text;
    EXPECT_EQ(stdout_text.find("获取成功"), std::string::npos) << stdout_text;
    EXPECT_NE(stderr_text.find("没有一个宝贝下载成功（接口密钥被拒绝：Signature is invalid），没有写入数据包。"),
              std::string::npos) << stderr_text;
    EXPECT_FALSE(vq::file_exists(out));
    EXPECT_EQ(stdout_text.find("文件写成功"), std::string::npos) << stdout_text;
    // The rotation stays: each product's first request, then one more with each pair.
    EXPECT_EQ(gateway_requests(), 3 * (1 + 2));
}

TEST_F(VqCommandTest, RefusesToStartWithoutKeyPairsOrAUsableOutputName) {
    start_sim();
    // A configuration server that is not there.
    prepare(2, "[SITE]\r\nconfig_server=http://127.0.0.1:9/\r\n");
    EXPECT_EQ(run({"copy", "--list", list_file, "--home", home}), 2);
    EXPECT_NE(stderr_text.find("预定信息 加载失败，请重新启动--\n配置来源：http://127.0.0.1:9//logo.xml（由 " +
                               home + "/options/site.ini 指定）\n"),
              std::string::npos) << stderr_text;

    // A user's own key pairs in a file beside site.ini: the run goes ahead with them.
    std::string keys = "<logo>";
    for (const auto& key : sim.catalogue().keys()) {
        keys += "<k appkey=\"" + key.appkey + "\" appsecret=\"" + key.appsecret + "\"/>";
    }
    ASSERT_TRUE(vq::write_file_atomic(home + "/options/my-keys.xml", keys + "</logo>"));
    std::string ini = sim.site_ini();
    const auto at = ini.find("config_server=");
    ini.replace(at, ini.find("\r\n", at) - at, "config_server=my-keys.xml");
    ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", ini));
    EXPECT_EQ(run({"copy", "--list", list_file, "--home", home, "--out", folder.path + "/own.csv"}), 0)
        << stderr_text;
    EXPECT_NE(stdout_text.find("成功下载： 2\n"), std::string::npos) << stdout_text;
    // That package is there now: replaced only with --overwrite, before anything is fetched.
    const int fetched = gateway_requests();
    EXPECT_EQ(run({"copy", "--list", list_file, "--home", home, "--out", folder.path + "/own.csv"}), 2);
    EXPECT_EQ(stderr_text, "数据包已存在：" + folder.path +
                               "/own.csv（用 --overwrite 覆盖，或用 --append 追加）\n");
    EXPECT_EQ(gateway_requests(), fetched);
    EXPECT_EQ(run({"copy", "--list", list_file, "--home", home, "--out", folder.path + "/own.csv",
                   "--overwrite"}),
              0)
        << stderr_text;

    ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", sim.site_ini()));
    EXPECT_EQ(run({"copy", "--list", list_file, "--home", home, "--out", folder.path + "/v1.2/shop"}), 2);
    EXPECT_NE(stderr_text.find("请检查文件名是否正确！"), std::string::npos);

    EXPECT_EQ(run({"copy", "--list", list_file, "--home", home, "--out", folder.path + "/no/shop.csv"}), 2);
    EXPECT_NE(stderr_text.find("保存路径的文件夹不存在"), std::string::npos);
    EXPECT_EQ(run({"copy", "--list", folder.path + "/no-such-list.txt", "--home", home}), 2);
    EXPECT_EQ(run({"copy", "--home", home}), 2);
    EXPECT_EQ(run({"copy", "--list", list_file, "--format", "7"}), 2);

    // A list line that is no row would be a product silently left out: refused by its line.
    // A list saved as UTF-8 is read as such.
    std::string lines = vq::read_file_bytes(list_file).value_or("");
    const std::string broken = folder.path + "/broken.txt";
    ASSERT_TRUE(vq::write_file_atomic(broken, lines + "half a row||1\r\n"));
    EXPECT_EQ(run({"copy", "--list", broken, "--home", home, "--out", folder.path + "/b.csv"}), 2);
    EXPECT_EQ(stderr_text, "列表文件第 3 行无法识别：" + broken + "\n");
    const std::string utf8 = folder.path + "/utf8.txt";
    ASSERT_TRUE(vq::write_file_atomic(utf8, vq::gbk_to_utf8(lines)));
    EXPECT_EQ(run({"copy", "--list", utf8, "--home", home, "--out", folder.path + "/u.csv"}), 0)
        << stderr_text;
    EXPECT_NE(stdout_text.find("列表文件是 UTF-8 编码，已按 UTF-8 读取：" + utf8), std::string::npos);
    EXPECT_EQ(runtest::read_package_strictly(folder.path + "/u.csv", folder.path).size(), 2u);

    // A FIFO as the list or the options file would block the command, /dev/zero fill its
    // memory: each is refused by name before anything is fetched.
    const std::string fifo = folder.path + "/fifo.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(run({"copy", "--list", fifo, "--home", home, "--out", folder.path + "/f.csv"}), 2);
    EXPECT_EQ(stderr_text, "宝贝列表文件不是普通文件：" + fifo + "\n");
    const std::string options = home + "/options/options.ini";
    std::filesystem::remove(options);
    std::filesystem::create_symlink("/dev/zero", options);
    EXPECT_EQ(run({"copy", "--list", list_file, "--home", home, "--out", folder.path + "/f.csv"}), 2);
    EXPECT_EQ(stderr_text, "选项文件不是普通文件：" + options + "\n");
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/f.csv"));
}

// A run with failures leaves their list beside the package; retrying it with --append
// completes the package: every product exactly once, and the check is clean.
TEST_F(VqCommandTest, RetryingTheFailedCompletesThePackage) {
    vq::sim::SimOptions faulty;
    faulty.faults.error = 0.6;  // both key pairs fail for some products
    start_sim(faulty);
    prepare(12, sim.site_ini());
    const std::string out = folder.path + "/shop.csv";
    const std::string failed = folder.path + "/shop.failed.txt";
    ASSERT_EQ(run({"copy", "--list", list_file, "--out", out, "--home", home, "--desc-pictures"}), 0)
        << stderr_text;
    const auto failedRows = vq::read_list_file(failed);
    ASSERT_TRUE(failedRows);
    ASSERT_GT(failedRows->size(), 0u);
    ASSERT_LT(failedRows->size(), 12u);
    EXPECT_NE(stdout_text.find("下载失败： " + std::to_string(failedRows->size()) + "\n"),
              std::string::npos) << stdout_text;
    EXPECT_NE(stdout_text.find("失败列表：" + failed + "\n"), std::string::npos) << stdout_text;
    // The rows as the list had them.
    for (const auto& row : *failedRows) {
        const auto& rows = list.rows();
        EXPECT_NE(std::find_if(rows.begin(), rows.end(), [&](const vq::ProductEntry& e) {
                      return e.title == row.title && e.offerId == row.offerId &&
                             e.price == row.price && e.address == row.address;
                  }), rows.end()) << row.offerId;
    }

    // Nothing is fetched for a package that is missing or of the other format.
    sim.reset_stats();
    EXPECT_EQ(run({"copy", "--list", failed, "--out", folder.path + "/none.csv", "--home", home,
                   "--append"}), 2);
    EXPECT_NE(stderr_text.find("无法追加到数据包"), std::string::npos) << stderr_text;
    EXPECT_EQ(run({"copy", "--list", failed, "--out", out, "--home", home, "--append", "--format", "4"}), 2);
    EXPECT_NE(stderr_text.find("数据包格式不同"), std::string::npos) << stderr_text;
    EXPECT_EQ(gateway_requests(), 0);

    // The stand-in again, this time without faults.
    sim.stop();
    start_sim();
    ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", sim.site_ini()));
    ASSERT_EQ(run({"copy", "--list", failed, "--out", out, "--home", home, "--desc-pictures",
                   "--append"}), 0)
        << stderr_text;
    EXPECT_NE(stdout_text.find("下载失败： 0\n"), std::string::npos) << stdout_text;
    EXPECT_FALSE(vq::file_exists(failed));  // it named products the package now holds

    const auto rows = runtest::read_package_strictly(out, folder.path);
    std::multiset<std::string> ids;
    for (const auto& row : rows) ids.insert(row[36]);
    std::multiset<std::string> expected;
    for (const auto& row : list.rows()) expected.insert(row.offerId);
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(run({"check", out}), 0) << stdout_text;
    EXPECT_NE(stdout_text.find("检查：宝贝 12 个，"), std::string::npos) << stdout_text;
}

// Rule flags are checked before anything is fetched; a flag wins over the options file,
// also over a value of the file that would be refused.
TEST_F(VqCommandTest, RuleFlagsAreCheckedFirstAndWinOverTheFile) {
    start_sim();
    prepare(3, sim.site_ini());
    const struct {
        std::vector<std::string> flags;
        const char* named;
    } refused[] = {
        {{"--price-factor", "0"}, "--price-factor：价格倍数"},
        {{"--price-factor", "x1.5"}, "--price-factor：价格倍数"},
        {{"--price-add", "5元"}, "--price-add：加价"},
        {{"--price-ending", ".5"}, "--price-ending：价格尾数"},
        {{"--title-replace", "a=b", "--title-replace", "批发"}, "--title-replace：标题替换"},
        {{"--keep-pictures", "-1"}, "--keep-pictures：保留主图张数"},
        // A value starting with "-" is the flag's value, not an option.
        {{"--price-add", "-x"}, "--price-add：加价"},
    };
    for (const auto& r : refused) {
        std::vector<std::string> args = {"copy", "--list", list_file, "--home", home};
        args.insert(args.end(), r.flags.begin(), r.flags.end());
        EXPECT_EQ(run(args), 2) << r.named;
        EXPECT_NE(stderr_text.find(r.named), std::string::npos) << stderr_text;
    }
    EXPECT_NE(sim.stats_text().find("config 0\n"), std::string::npos);

    ASSERT_TRUE(vq::write_file_atomic(
        home + "/options/options.ini",
        vq::utf8_to_gbk("[RULES]\r\nprice_factor=abc\r\ntitle_prefix=新款\r\n"
                        "title_replace1=新款=旧款\r\nkeep_pictures=1\r\n")));
    EXPECT_EQ(run({"copy", "--list", list_file, "--home", home}), 2);
    EXPECT_NE(stderr_text.find("options.ini [RULES]：价格倍数"), std::string::npos) << stderr_text;
    EXPECT_NE(sim.stats_text().find("config 0\n"), std::string::npos);

    const std::string out = folder.path + "/ruled.csv";
    ASSERT_EQ(run({"copy", "--list", list_file, "--home", home, "--out", out, "--price-factor",
                   "2", "--price-ending", "yuan", "--title-replace", "x=y"}),
              0)
        << stderr_text;
    const auto rows = runtest::read_package_strictly(out, folder.path);
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows) {
        const vq::sim::Product* p = sim.catalogue().find_offer(row[36]);
        ASSERT_NE(p, nullptr);
        // The file's prefix and kept pictures hold; its replacement gave way to the flag's.
        EXPECT_EQ(row[0].rfind("新款", 0), 0u) << row[0];
        EXPECT_EQ(vq::split_text(row[28], ":|;").size(), 1u);
        vq::ListingRules doubled;
        doubled.priceFactor = {2, 0};
        doubled.priceEnding = vq::PriceEnding::Yuan;
        EXPECT_EQ(row[7], vq::apply_price_rule(p->retailPrice, doubled).text);
    }
}

// Ctrl-C keeps what is finished: the package holds those products, the continuation list
// the others, each product in one of them, and --append of the list completes the package.
TEST_F(VqCommandTest, InterruptKeepsTheFinishedWorkAndTheRestContinues) {
    start_sim();
    prepare(12, sim.site_ini());
    const std::string out = folder.path + "/stopped.csv";
    std::vector<std::string> all;
    for (const vq::ProductEntry& row : list.rows()) all.push_back(row.offerId);
    // Product 7 waits at the stand-in, so the interrupt lands while the run goes.
    sim.hold_requests("gateway", all[6]);
    const pid_t pid = spawn({"copy", "--list", list_file, "--out", out, "--home", home, "--no-desc-pictures"});
    const bool underway = sim.wait_held(1);
    kill(pid, SIGINT);
    ASSERT_TRUE(underway);
    EXPECT_EQ(wait(pid), 130) << stderr_text;
    sim.release_requests();
    EXPECT_NE(stderr_text.find("已停止："), std::string::npos) << stderr_text;
    const std::string rest = folder.path + "/stopped.failed.txt";
    EXPECT_NE(stdout_text.find("待续列表：" + rest), std::string::npos) << stdout_text;

    std::multiset<std::string> seen;
    if (std::filesystem::exists(out)) {
        for (const auto& row : runtest::read_package_strictly(out, folder.path)) seen.insert(row[36]);
    }
    const auto continued = vq::read_list_file(rest);
    ASSERT_TRUE(continued);
    for (const vq::ProductEntry& row : *continued) seen.insert(row.offerId);
    EXPECT_EQ(seen, std::multiset<std::string>(all.begin(), all.end()));
    EXPECT_TRUE(std::any_of(continued->begin(), continued->end(),
                            [&](const vq::ProductEntry& row) { return row.offerId == all[6]; }));

    // Continued, the package is whole.
    const bool first_wrote = std::filesystem::exists(out);
    std::vector<std::string> again = {"copy", "--list", rest, "--out", out, "--home", home, "--no-desc-pictures"};
    if (first_wrote) again.push_back("--append");
    EXPECT_EQ(wait(spawn(again)), 0) << stderr_text;
    std::multiset<std::string> packaged;
    for (const auto& row : runtest::read_package_strictly(out, folder.path)) packaged.insert(row[36]);
    EXPECT_EQ(packaged, std::multiset<std::string>(all.begin(), all.end()));
    EXPECT_FALSE(std::filesystem::exists(rest));
}

// More than 1000 rows are one run only in parts, each added to the package when done.
// Repeats of one product keep it quick: they are skipped, not fetched.
TEST_F(VqCommandTest, AListOverAThousandRunsInPartsWhenAsked) {
    start_sim();
    prepare(2, sim.site_ini());
    const std::vector<vq::ProductEntry> two = list.rows();
    std::vector<vq::ProductEntry> rows(1000, two[0]);
    rows.push_back(two[1]);
    ASSERT_TRUE(vq::write_list_file(list_file, rows));
    const std::string out = folder.path + "/parts.csv";
    EXPECT_EQ(run({"copy", "--list", list_file, "--out", out, "--home", home}), 2);
    EXPECT_NE(stderr_text.find("每次采集数量不超过1000个"), std::string::npos) << stderr_text;
    EXPECT_NE(stderr_text.find("--in-parts"), std::string::npos) << stderr_text;
    EXPECT_FALSE(std::filesystem::exists(out));

    ASSERT_EQ(run({"copy", "--list", list_file, "--out", out, "--home", home, "--in-parts"}), 0)
        << stderr_text;
    std::set<std::string> ids;
    for (const auto& row : runtest::read_package_strictly(out, folder.path)) ids.insert(row[36]);
    EXPECT_EQ(ids, (std::set<std::string>{two[0].offerId, two[1].offerId}));
    EXPECT_NE(stdout_text.find("分 2 批下载，每批 1000 个宝贝"), std::string::npos) << stdout_text;
    EXPECT_NE(stdout_text.find("第 1/2 批 下载完成！成功： 1"), std::string::npos) << stdout_text;
    EXPECT_NE(stdout_text.find("重复跳过：999\n"), std::string::npos) << stdout_text;
    EXPECT_NE(stdout_text.find("成功下载： 2\n"), std::string::npos) << stdout_text;
}

// A continuation list that cannot be written is said, not passed over: the products not done
// would otherwise be lost without a word.
TEST_F(VqCommandTest, AContinuationListThatCannotBeWrittenIsSaid) {
    start_sim();
    prepare(6, sim.site_ini());
    const std::string out = folder.path + "/stuck.csv";
    std::filesystem::create_directories(folder.path + "/stuck.failed.txt");  // a folder in its way
    sim.hold_requests("gateway", list.rows()[2].offerId);
    const pid_t pid = spawn({"copy", "--list", list_file, "--out", out, "--home", home, "--no-desc-pictures"});
    const bool underway = sim.wait_held(1);
    kill(pid, SIGINT);
    ASSERT_TRUE(underway);
    EXPECT_EQ(wait(pid), 130) << stderr_text;
    sim.release_requests();
    EXPECT_NE(stderr_text.find("个宝贝的列表无法写入，请查看操作记录！"), std::string::npos) << stderr_text;
    EXPECT_EQ(stdout_text.find("待续列表："), std::string::npos) << stdout_text;
}

// A second Ctrl-C within a second of the first ends the process there and then.
TEST(InterruptCatcherTest, ASecondSignalAtOnceEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const vq::cli::InterruptCatcher catcher;
            raise(SIGINT);
            if (!vq::cli::InterruptCatcher::interrupted()) _exit(1);
            raise(SIGINT);
            _exit(0);
        },
        ::testing::ExitedWithCode(130), "立即退出");
}

// A package belongs to one run at a time: a second run on it is refused before it fetches
// anything, a killed run's lock ends with it, and what a killed run left is removed.
TEST_F(VqCommandTest, APackageIsOneRunsAtATime) {
    start_sim();
    prepare(12, sim.site_ini());
    const std::string out = folder.path + "/shared.csv";
    const std::vector<std::string> copy = {VQ_PATH, "copy", "--list", list_file, "--out", out,
                                           "--home", home, "--no-desc-pictures"};
    const std::string first = folder.path + "/first", second = folder.path + "/second";
    std::filesystem::create_directories(first);
    std::filesystem::create_directories(second);
    std::string out_text, err_text;

    // The first run's workers wait at the stand-in with their first products.
    sim.hold_requests("gateway");
    const pid_t running = runtest::spawn_process(copy, first);
    ASSERT_TRUE(sim.wait_held(5));
    std::vector<std::string> appending = copy;
    appending.push_back("--append");
    for (const auto& args : {copy, appending}) {
        EXPECT_EQ(runtest::wait_process(runtest::spawn_process(args, second), second, out_text,
                                        err_text),
                  2);
        EXPECT_NE(err_text.find("数据包正被另一个任务使用：" + out), std::string::npos) << err_text;
    }
    EXPECT_EQ(gateway_requests(), 5);

    // Killed, it holds nothing: the next run goes ahead and clears what was left.
    kill(running, SIGKILL);
    EXPECT_EQ(runtest::wait_process(running, first, out_text, err_text), -1);
    sim.release_requests();
    const std::string pictures = folder.path + "/shared";
    std::filesystem::create_directories(pictures + "/product");
    const std::vector<std::string> stale = {pictures + "/.vq-part-a1b2c3",
                                            pictures + "/product/.vq-part-d4e5f6",
                                            out + ".tmp-g7h8i9"};
    for (const std::string& path : stale) ASSERT_TRUE(vq::write_file_atomic(path, "left"));
    ASSERT_TRUE(vq::write_file_atomic(pictures + "/kept.jpg", "mine"));
    EXPECT_EQ(runtest::wait_process(runtest::spawn_process(copy, second), second, out_text,
                                    err_text),
              0)
        << err_text;
    for (const std::string& path : stale) EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_TRUE(std::filesystem::exists(pictures + "/kept.jpg"));
    EXPECT_EQ(runtest::read_package_strictly(out, folder.path).size(), 12u);
}

// A picture folder that takes no file is found at START; a picture the disk refuses during
// the run stops it there, with the reason and no package, and vq exits 1.
TEST_F(VqCommandTest, WhatTheDiskRefusesStopsTheRunAndIsSaid) {
    vq::sim::SimOptions options;
    options.mainPictures = 2;
    options.pictureBytes = 40000;
    start_sim(options);
    prepare(20, sim.site_ini());
    const std::string taken = folder.path + "/taken.csv";
    ASSERT_TRUE(vq::write_file_atomic(folder.path + "/taken", "a file where the pictures go"));
    EXPECT_EQ(run({"copy", "--list", list_file, "--out", taken, "--home", home}), 2);
    EXPECT_NE(stderr_text.find("数据包文件夹无法写入（unusable output path）：" + folder.path + "/taken"),
              std::string::npos)
        << stderr_text;
    EXPECT_EQ(gateway_requests(), 0);

    // Files may grow to 16 KiB here, so the first picture cannot be written whole.
    const std::string out = folder.path + "/limited.csv";
    std::string command = "trap '' XFSZ; ulimit -f 16; exec";
    for (const std::string& arg : {std::string(VQ_PATH), std::string("copy"), std::string("--list"),
                                   list_file, std::string("--out"), out, std::string("--home"), home,
                                   std::string("--no-desc-pictures")}) {
        command += " '" + arg + "'";
    }
    EXPECT_EQ(runtest::wait_process(runtest::spawn_process({"/bin/sh", "-c", command}, folder.path),
                                    folder.path, stdout_text, stderr_text),
              1);
    EXPECT_NE(stderr_text.find("无法写入文件：" + folder.path + "/limited"), std::string::npos)
        << stderr_text;
    EXPECT_NE(stderr_text.find("，没有写入数据包。"), std::string::npos) << stderr_text;
    EXPECT_EQ(stdout_text.find("成功下载"), std::string::npos) << stdout_text;
    EXPECT_FALSE(std::filesystem::exists(out));
    // Stopped at once: no worker asked for more than its first product and the one after.
    EXPECT_LE(gateway_requests(), 10);
}

}  // namespace
