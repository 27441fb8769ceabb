// Copy runs through today's product methods against the stand-in playing them over TLS: the
// same package as offer.get, the token refreshed once when it runs out, a refused refresh
// ending the run with its work kept, the listing relationship made when it is missing.

#include <sys/stat.h>
#include <unistd.h>

#include <set>

#include "api/api_token.hpp"
#include "api/product_api_source.hpp"
#include "output/source_file.hpp"
#include "run/supplier_watch.hpp"
#include "run/run_fixture.hpp"

namespace {

using runtest::RunFixture;

// A clock that never moves, so picture names depend on the order of pictures only.
class FixedClock : public vq::Clock {
public:
    vq::LocalDateTime now() const override { return {2026, 12, 10, 9, 30, 0, 0}; }
};

// Where two byte strings part, with a little of each from there (other bytes as ".").
std::string first_difference(const std::string& a, const std::string& b) {
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    const auto shown = [&](const std::string& s) {
        std::string out;
        for (std::size_t i = at < 40 ? 0 : at - 40; i < std::min(s.size(), at + 120); ++i)
            out += s[i] >= 0x20 && s[i] < 0x7F ? s[i] : '.';
        return out;
    };
    return "at byte " + std::to_string(at) + "\n" + shown(a) + "\n" + shown(b);
}

class ProductApiRunTest : public RunFixture {
protected:
    void start_today(vq::sim::SimOptions options = {}) {
        options.tls = true;
        options.tlsFolder = folder.path + "/tls";
        std::filesystem::create_directories(options.tlsFolder);
        start_sim(options);
        std::filesystem::create_directories(folder.path + "/home/options");
        tokenPath = vq::api_token_path(folder.path + "/home");
    }

    // The site settings of a profile, current from now on.
    void use_profile(const std::string& profile) {
        const std::string ini = folder.path + "/site-" + profile + ".ini";
        ASSERT_TRUE(vq::write_file_atomic(ini, sim.site_ini(profile)));
        vq::set_site_settings(vq::load_site_settings(ini));
    }

    // A token of the first key pair's app, as `vq auth` keeps it.
    void authorize(std::int64_t accessExpires = 0) {
        const auto& key = sim.catalogue().keys().front();
        const auto issued = sim.issue_token(key.appkey);
        vq::ApiToken token;
        token.appKey = key.appkey;
        token.accessToken = issued.accessToken;
        token.refreshToken = issued.refreshToken;
        token.accessExpires = accessExpires;
        token.resourceOwner = "keeper";
        ASSERT_TRUE(vq::save_api_token(tokenPath, token));
    }

    vq::RunPorts ports_for(vq::LogSink& sink) {
        vq::RunPorts ports = run_ports(sink);
        ports.tokenPath = tokenPath;
        return ports;
    }

    // Requests the stand-in has seen whose target holds part.
    int requests_to(const std::string& part) const {
        int n = 0;
        for (const std::string& line : vq::split_text(sim.stats_text(), "\n")) {
            if (line.find(part) == std::string::npos) continue;
            const auto space = line.find(' ');
            if (space == std::string::npos) continue;
            n += std::atoi(line.c_str() + space + 1);
        }
        return n;
    }

    // One run of the list's products with one worker and a fixed clock into <folder>/name:
    // the table's bytes and every file of the picture folder.
    // Every run writes into the same folder: format 4 names its pictures by their path.
    std::map<std::string, std::string> one_run(int format, const std::string& name) {
        const std::string where = folder.path + "/same";
        std::filesystem::remove_all(where);
        std::filesystem::create_directories(where);
        state.outputFormat = *vq::format_from_number(format);
        state.pictureFailurePolicy = vq::FailurePolicy::RetryThenRemove;
        options.downloadDescriptionPictures = true;
        state.set_output(where + "/", "pkg");
        outputPath.set(where + "/pkg.csv");
        observer.reset_completions();
        runtest::RecordingLog runLog;
        vq::RunPorts ports = ports_for(runLog);
        FixedClock clock;
        vq::MillisSequence stamps;
        ports.clock = &clock;
        ports.millis = &stamps;
        ports.workers = 1;
        vq::BatchController run(ports);
        EXPECT_TRUE(run.start_run().started) << name;
        EXPECT_TRUE(observer.wait_idle(120)) << name;
        EXPECT_TRUE(observer.totals.checkClean) << name << vq::gbk_to_utf8(observer.totals.checkSummary);
        std::map<std::string, std::string> files;
        files["table"] = vq::read_file_bytes(where + "/pkg.csv").value_or("?");
        for (const auto& entry : std::filesystem::recursive_directory_iterator(where + "/pkg")) {
            if (!entry.is_regular_file()) continue;
            files[std::filesystem::relative(entry.path(), where + "/pkg").string()] =
                vq::read_file_bytes(vq::utf8_to_gbk(entry.path().string())).value_or("?");
        }
        return files;
    }

    std::string tokenPath;
};

// One list through offer.get, cross.productInfo and fenxiao.productInfo gives the same table
// byte for byte and the same pictures, in every format, with values as sellers type them.
TEST_F(ProductApiRunTest, EveryProfileMakesTheSamePackage) {
    vq::sim::SimOptions options;
    options.hostile = true;
    options.currentModelValues = true;
    options.shops = 1;
    options.productsPerShop = 14;
    start_today(options);
    authorize();
    fill_list(14);
    for (const int format : {4, 5, 6}) {
        SCOPED_TRACE(format);
        use_profile("offer.get");
        const auto reference = one_run(format, "get-" + std::to_string(format));
        ASSERT_GT(reference.size(), 14u);
        EXPECT_EQ(observer.totals.succeeded, 14);
        // The reference itself: read back strictly, its pictures as the stand-in serves them.
        EXPECT_EQ(runtest::expect_package_as_served(folder.path + "/same/pkg.csv", folder.path + "/same/pkg",
                                                    *vq::format_from_number(format), sim, folder.path)
                      .size(),
                  14u);
        for (const std::string profile : {"cross.productInfo", "fenxiao.productInfo"}) {
            SCOPED_TRACE(profile);
            use_profile(profile);
            const auto files = one_run(format, profile + "-" + std::to_string(format));
            EXPECT_EQ(observer.totals.succeeded, 14);
            EXPECT_TRUE(files.at("table") == reference.at("table"))
                << first_difference(files.at("table"), reference.at("table"));
            // Named, not printed: the pictures are binary.
            std::string differing;
            for (const auto& [name, bytes] : reference) {
                const auto found = files.find(name);
                if (found == files.end() || found->second != bytes) differing += name + "\n";
            }
            for (const auto& [name, bytes] : files) {
                if (!reference.count(name)) differing += "extra " + name + "\n";
            }
            EXPECT_TRUE(differing.empty()) << differing;
        }
    }
    // Through the relationship: one call for the 14 ids, none more.
    EXPECT_EQ(requests_to("alibaba.cross.syncProductListPushed"), 3);
}

// A watch through today's methods sees what the supplier changed, an offer taken down as
// one no longer on sale.
TEST_F(ProductApiRunTest, AWatchSeesTheSuppliersChanges) {
    start_today();
    authorize();
    use_profile("fenxiao.productInfo");
    fill_list(6);
    one_run(5, "before");
    const auto source = vq::read_source_file(vq::read_file_bytes(folder.path + "/same/pkg.source.tsv").value_or(""));
    ASSERT_TRUE(source);
    ASSERT_EQ(source->entries.size(), 6u);
    EXPECT_EQ(source->entries.front().status, "published");
    const auto& products = sim.catalogue().products();
    ASSERT_TRUE(sim.change_offer(products[1].offerId, vq::sim::OfferChange::PriceUp));
    ASSERT_TRUE(sim.change_offer(products[2].offerId, vq::sim::OfferChange::TakenDown));

    const vq::SourceChoice choice =
        vq::choose_offer_sources(vq::site_settings(), tokenPath, state.credentials(), {});
    ASSERT_TRUE(choice.sources) << vq::gbk_to_utf8(choice.refusal);
    vq::WatchPorts ports;
    ports.sources = choice.sources;
    ports.credentials = state.credentials();
    const vq::WatchReport report = vq::watch_supplier(source->entries, ports);
    EXPECT_EQ(report.checked, 6);
    EXPECT_EQ(report.unchanged, 4);
    ASSERT_EQ(report.changes.size(), 2u);
    EXPECT_EQ(report.changes[0].offerId, products[1].offerId);
    EXPECT_TRUE(report.changes[0].price);
    EXPECT_FALSE(report.changes[0].stock || report.changes[0].skus || report.changes[0].gone);
    EXPECT_EQ(report.changes[1].offerId, products[2].offerId);
    EXPECT_TRUE(report.changes[1].gone);
    EXPECT_NE(report.changes[1].reason.find("expired"), std::string::npos) << report.changes[1].reason;
}

// The platform says the token has run out while five workers fetch: one refresh, the new
// token kept, and every product of the run packaged.
TEST_F(ProductApiRunTest, ATokenThatRunsOutIsRefreshedOnceForAllWorkers) {
    start_today();
    authorize();
    use_profile("fenxiao.productInfo");
    fill_list(40);
    make_controller(5, false);
    controller = std::make_unique<vq::BatchController>(ports_for(log));
    sim.hold_requests("gateway", "fenxiao.productInfo.get");
    ASSERT_TRUE(controller->start_run().started);
    // Every worker's request is at the gate: all of them meet the expired token.
    ASSERT_TRUE(sim.wait_held(5));
    const std::string before = vq::load_api_token(tokenPath)->accessToken;
    sim.expire_access_tokens();
    sim.release_requests();
    ASSERT_TRUE(observer.wait_idle());
    EXPECT_EQ(observer.totals.succeeded, 40);
    EXPECT_EQ(requests_to("system.oauth2/getToken"), 1);
    const auto kept = vq::load_api_token(tokenPath);
    ASSERT_TRUE(kept);
    EXPECT_NE(kept->accessToken, before);
    EXPECT_FALSE(kept->refreshToken.empty());
}

// A refresh the platform refuses ends the run: the message tells the user to authorize
// again, the finished products are in the package and the rest in the continuation list,
// and nothing more is asked for.
TEST_F(ProductApiRunTest, ARefusedRefreshEndsTheRunAndKeepsItsWork) {
    start_today();
    authorize();
    use_profile("cross.productInfo");
    fill_list(12);
    make_controller(5, false);
    vq::RunPorts ports = ports_for(log);
    ports.workers = 1;
    controller = std::make_unique<vq::BatchController>(ports);
    // The eighth product's answer waits at the gate: seven answers are in.
    const auto& eighth = sim.catalogue().products()[7];
    sim.hold_requests("gateway", "productId=" + eighth.offerId);
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(sim.wait_held(1));
    sim.set_refusing_refresh(true);
    sim.expire_access_tokens();
    sim.release_requests();
    ASSERT_TRUE(observer.wait_idle());
    const vq::RunTotals& t = observer.totals;
    EXPECT_NE(vq::gbk_to_utf8(t.stopReason).find("请重新授权"), std::string::npos)
        << vq::gbk_to_utf8(t.stopReason);
    EXPECT_EQ(t.succeeded, 7);
    EXPECT_TRUE(t.packageWritten);
    EXPECT_EQ(t.rowsWritten, 7);
    EXPECT_EQ(runtest::read_package_strictly(package_path(), folder.path).size(), 7u);
    ASSERT_FALSE(t.failedListPath.empty());
    EXPECT_EQ(t.failed + t.notDone, 5);
    EXPECT_EQ(log.count_containing("请重新授权"), 1);
    // The eighth product met the expired token; nothing was asked for after the refusal.
    EXPECT_EQ(requests_to("alibaba.cross.productInfo/"), 8);
    EXPECT_EQ(requests_to("system.oauth2/getToken"), 1);
}

// An offer the relationship lost is added alone and asked for again.
TEST_F(ProductApiRunTest, AnOfferWithoutTheRelationshipIsAddedAndFetched) {
    start_today();
    authorize();
    use_profile("cross.productInfo");
    fill_list(3);
    make_controller(5, false);
    vq::RunPorts ports = ports_for(log);
    ports.workers = 1;
    controller = std::make_unique<vq::BatchController>(ports);
    sim.hold_requests("gateway", "alibaba.cross.productInfo/");
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(sim.wait_held(1));
    const auto& key = sim.catalogue().keys().front();
    EXPECT_EQ(sim.relationship_size(key.appkey), 3);
    sim.drop_relationships();
    sim.release_requests();
    ASSERT_TRUE(observer.wait_idle());
    EXPECT_EQ(observer.totals.succeeded, 3);
    // The group of three, then each offer alone.
    EXPECT_EQ(requests_to("alibaba.cross.syncProductListPushed"), 4);
    EXPECT_EQ(log.count_containing("下载失败"), 0);
}

// What the platform answers instead of an offer ends as that product's failure, in the
// platform's words; a refused app key is said as such.
TEST_F(ProductApiRunTest, ErrorAnswersFailTheProductWithThePlatformsWords) {
    start_today();
    authorize();
    use_profile("fenxiao.productInfo");
    fill_list(3);
    const auto& products = sim.catalogue().products();
    sim.set_offer_status(products[1].offerId, "expired");
    list.append_row({"missing", "1", "http://example/1", "123456789"});
    make_controller(5, false);
    controller = std::make_unique<vq::BatchController>(ports_for(log));
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(observer.wait_idle());
    EXPECT_EQ(observer.totals.succeeded, 2);
    EXPECT_EQ(observer.totals.failed, 2);
    EXPECT_EQ(log.count_containing("状态：expired"), 1);
    EXPECT_EQ(log.count_containing("商品不存在"), 1);

    // A wrong secret: every product says the key was refused.
    std::vector<vq::ApiCredential> pairs = state.credentials();
    pairs.front().appsecret = "wrong";
    state.set_credentials(pairs);
    list.replace_all({});
    fill_list(2);
    observer.reset_completions();
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(observer.wait_idle());
    EXPECT_EQ(observer.totals.succeeded, 0);
    EXPECT_NE(vq::gbk_to_utf8(observer.totals.stopReason).find("接口密钥被拒绝"), std::string::npos)
        << vq::gbk_to_utf8(observer.totals.stopReason);
}

// START refuses what could only fail: no token, a token run out with nothing to renew it, a
// profile the program does not know.
TEST_F(ProductApiRunTest, StartRefusesARunThatCouldFetchNothing) {
    start_today();
    fill_list(2);
    make_controller(5, false);
    controller = std::make_unique<vq::BatchController>(ports_for(log));
    use_profile("cross.productInfo");
    const vq::StartResult none = controller->start_run();
    EXPECT_FALSE(none.started);
    EXPECT_NE(vq::gbk_to_utf8(none.message).find("vq auth"), std::string::npos);

    vq::ApiToken old;
    old.appKey = sim.catalogue().keys().front().appkey;
    old.accessToken = "old";
    old.accessExpires = 1000;
    ASSERT_TRUE(vq::save_api_token(tokenPath, old));
    const vq::StartResult expired = controller->start_run();
    EXPECT_FALSE(expired.started);
    EXPECT_NE(vq::gbk_to_utf8(expired.message).find("重新授权"), std::string::npos);

    const std::string ini = folder.path + "/odd.ini";
    ASSERT_TRUE(vq::write_file_atomic(ini, "[SITE]\r\nproduct_api=productInfo.get\r\n"));
    vq::set_site_settings(vq::load_site_settings(ini));
    const vq::StartResult odd = controller->start_run();
    EXPECT_FALSE(odd.started);
    EXPECT_NE(vq::gbk_to_utf8(odd.message).find("productInfo.get"), std::string::npos);
    EXPECT_EQ(gateway_requests(), 0);
}

// A token whose time is up before the run is refreshed before the first offer is asked for.
TEST_F(ProductApiRunTest, ATokenPastItsTimeIsRefreshedBeforeTheRun) {
    start_today();
    authorize(/*accessExpires=*/1000);
    use_profile("fenxiao.productInfo");
    fill_list(5);
    make_controller(5, false);
    controller = std::make_unique<vq::BatchController>(ports_for(log));
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(observer.wait_idle());
    EXPECT_EQ(observer.totals.succeeded, 5);
    EXPECT_EQ(requests_to("system.oauth2/getToken"), 1);
    EXPECT_GT(vq::load_api_token(tokenPath)->accessExpires, vq::epoch_seconds_now());
}

// vq auth as a user meets it: the address it prints opened in a browser (here python, which
// trusts the stand-in's certificate and does not follow the redirect), the address the
// browser was sent to pasted back; the token is kept for the user only and its state said,
// and no secret reaches the terminal.
TEST_F(ProductApiRunTest, VqAuthThroughTheAuthorizePage) {
    start_today();
    const std::string home = folder.path + "/home";
    ASSERT_TRUE(vq::write_file_atomic(home + "/options/site.ini", sim.site_ini("cross.productInfo")));
    int in[2];
    ASSERT_EQ(::pipe(in), 0);
    const std::string out = folder.path + "/auth";
    std::filesystem::create_directories(out);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addopen(&actions, 1, (out + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (out + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {VQ_PATH, "auth", "--home", home};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);

    // The address vq prints, once it has printed it.
    std::string address;
    ASSERT_TRUE(wait_for([&] {
        for (const std::string& line : vq::split_text(vq::read_file_bytes(out + "/stdout").value_or(""), "\n"))
            if (line.rfind("https://auth.localhost", 0) == 0) address = line;
        return !address.empty();
    }));
    const std::string browser =
        "import socket,ssl,sys,urllib.request as u\n"
        // Browsers take every *.localhost name to this machine; the resolver may not.
        "_g=socket.getaddrinfo\n"
        "socket.getaddrinfo=lambda h,*a,**k:_g('127.0.0.1' if h.endswith('.localhost') else h,*a,**k)\n"
        "class N(u.HTTPRedirectHandler):\n"
        "  def redirect_request(self,*a): return None\n"
        "ctx=ssl.create_default_context(cafile=sys.argv[2])\n"
        "o=u.build_opener(N,u.HTTPSHandler(context=ctx))\n"
        "try: o.open(sys.argv[1])\n"
        "except u.HTTPError as e: print(e.headers['Location'])\n";
    std::string location, err;
    ASSERT_EQ(runtest::wait_process(runtest::spawn_process({"/usr/bin/python3", "-c", browser, address,
                                                            sim.ca_file()}, folder.path),
                                    folder.path, location, err), 0) << err;
    ASSERT_EQ(location.rfind("http://localhost/vq-callback?code=", 0), 0u) << location;
    ASSERT_GT(::write(in[1], location.data(), location.size()), 0);
    ::close(in[1]);
    std::string said, complaints;
    ASSERT_EQ(runtest::wait_process(pid, out, said, complaints), 0) << complaints;
    EXPECT_NE(said.find("已授权："), std::string::npos) << said;

    const std::string tokenFile = vq::api_token_path(home);
    const auto kept = vq::load_api_token(tokenFile);
    ASSERT_TRUE(kept);
    EXPECT_FALSE(kept->refreshToken.empty());
    EXPECT_GT(kept->accessExpires, vq::epoch_seconds_now());
    struct stat st {};
    ASSERT_EQ(::stat(tokenFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string secret = sim.catalogue().keys().front().appsecret;
    for (const std::string& text : {said, complaints}) {
        EXPECT_EQ(text.find(secret), std::string::npos);
        EXPECT_EQ(text.find(kept->accessToken), std::string::npos);
        EXPECT_EQ(text.find(kept->refreshToken), std::string::npos);
    }

    // The same code again is refused by its state: that authorization is done.
    const auto vq_auth = [&](std::vector<std::string> more, std::string& text) {
        std::vector<std::string> line = {VQ_PATH, "auth", "--home", home};
        line.insert(line.end(), more.begin(), more.end());
        std::string e;
        const int code = runtest::wait_process(runtest::spawn_process(line, out), out, text, e);
        text += e;
        return code;
    };
    std::string text;
    EXPECT_EQ(vq_auth({"--code", location}, text), 2) << text;
    EXPECT_EQ(vq_auth({"--status"}, text), 0) << text;
    EXPECT_NE(text.find("已授权："), std::string::npos) << text;
    EXPECT_EQ(vq_auth({"--forget"}, text), 0) << text;
    EXPECT_EQ(vq_auth({"--status"}, text), 1) << text;
    EXPECT_NE(text.find("未授权"), std::string::npos) << text;
}

}  // namespace
