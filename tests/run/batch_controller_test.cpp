#include <algorithm>
#include <filesystem>
#include <optional>
#include <thread>

#include "model/list_file.hpp"
#include "run_fixture.hpp"
#include "support/gbk_literal.hpp"

namespace {

using namespace std::chrono_literals;
using runtest::RunFixture;
using vq::RunState;
using vq::operator""_gbk;

class BatchControllerTest : public RunFixture {
public:
    vq::RunTotals totals() {
        std::lock_guard lock(observer.mutex_);
        return observer.totals;
    }
    // The offer ids of the package's rows, in table order.
    std::vector<std::string> package_ids() {
        std::vector<std::string> ids;
        for (const auto& row : runtest::read_package_strictly(package_path(), folder.path))
            ids.push_back(row.size() > 36 ? row[36] : std::string());
        return ids;
    }

protected:
    // A started run slow enough (latency per request) to act on while it goes.
    void start_slow_run(int latency_ms, int products) {
        vq::sim::SimOptions options;
        options.latencyMs = latency_ms;
        start_sim(options);
        fill_list(products);
        make_controller(5, false);
        ASSERT_TRUE(controller->start_run().started);
    }
};

TEST_F(BatchControllerTest, RefusalsChangeNothing) {
    make_controller();
    // An empty list: nothing happens, nothing is said.
    vq::StartResult result = controller->start_run();
    EXPECT_FALSE(result.started);
    EXPECT_TRUE(result.message.empty());

    // More than 1000 rows, counted before the empty ids go.
    for (int i = 0; i < 1001; ++i) list.append_row({"t", "1", "a", i == 0 ? "" : "1"});
    result = controller->start_run();
    EXPECT_FALSE(result.started);
    EXPECT_EQ(result.message,
              "每次采集数量不超过1000个，如超过，请按帮助拆分为几次分别采集！"_gbk);
    EXPECT_EQ(list.row_count(), 1001);

    outputPath.set("");
    result = controller->start_run();
    EXPECT_FALSE(result.started);
    EXPECT_EQ(result.message, "请检查保存的文件名是否正确！"_gbk);
    EXPECT_EQ(list.row_count(), 1001);
    EXPECT_EQ(log.size(), 0u);
    EXPECT_EQ(controller->state(), RunState::Idle);
}

TEST_F(BatchControllerTest, AllEmptyIdsCompleteAtOnceWithAHeaderOnlyPackage) {
    make_controller(5);
    list.append_row({"a", "1", "x", ""});
    list.append_row({"b", "1", "y", ""});
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(observer.wait_completed());
    EXPECT_EQ(list.row_count(), 0);
    EXPECT_EQ(log.count_containing("  去除空ID宝贝【实际宝贝数量为0  个宝贝】\r\n"), 1);
    EXPECT_EQ(observer.totals.productCount, 0);
    EXPECT_EQ(observer.totals.succeeded, 0);
    EXPECT_EQ(observer.totals.failed, 0);
    EXPECT_TRUE(observer.totals.packageWritten);
    const auto bytes = vq::read_file_bytes(package_path());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->rfind("version 1.00,", 0), 0u);
    EXPECT_EQ(std::count(bytes->begin(), bytes->end(), '\n'), 3);  // the header only
    EXPECT_TRUE(std::filesystem::is_directory(package_folder()));
}

TEST_F(BatchControllerTest, OneProductFiveWorkers) {
    start_sim();
    fill_list(1);
    list.append_row({"no id", "", "", ""});
    make_controller(5, false);
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(observer.wait_idle());
    EXPECT_EQ(observer.totals.productCount, 1);
    EXPECT_EQ(observer.totals.succeeded, 1);
    EXPECT_EQ(observer.totals.failed, 0);
    EXPECT_EQ(log.count_containing("个宝贝 下载完成！成功： 1 失败：0 正在写文件...\r\n"), 1);
    EXPECT_EQ(log.count_containing(" 文件写成功！\r\n"), 1);
    EXPECT_EQ(gateway_requests(), 1);
    EXPECT_EQ(controller->state(), RunState::Idle);
    EXPECT_EQ(observer.states.front(), RunState::Running);
    EXPECT_EQ(observer.states.back(), RunState::Idle);
}

// The run completes when its last worker ends, however many it has, with every product.
TEST_F(BatchControllerTest, AnyNumberOfWorkersCompletesWithEveryProduct) {
    start_sim();
    fill_list(12);
    make_controller(5, false);
    for (const int workers : {1, 4, 6}) {
        SCOPED_TRACE(workers);
        observer.reset_completions();
        vq::RunPorts ports = run_ports(log);
        ports.workers = workers;
        controller = std::make_unique<vq::BatchController>(ports);
        ASSERT_TRUE(controller->start_run().started);
        ASSERT_TRUE(observer.wait_idle());
        EXPECT_EQ(observer.totals.succeeded, 12);
        EXPECT_EQ(runtest::read_package_strictly(package_path(), folder.path).size(), 12u);
        EXPECT_EQ(log.count_containing(" 线程：" + std::to_string(workers + 1) + " "), 0);
    }
}

TEST_F(BatchControllerTest, PauseHoldsEveryWorkerAndContinueResumes) {
    start_slow_run(30, 25);
    ASSERT_TRUE(observer.wait_progress(3));
    controller->toggle_pause();
    EXPECT_EQ(controller->state(), RunState::Held);
    // Requests already under way end, then every worker waits at its hold.
    ASSERT_TRUE(wait_for([&] { return controller->held_workers() == 5; }));
    const int claimed = state.counters().nextProduct;
    const std::size_t lines = log.size();
    const int requests = gateway_requests();
    // Nothing moves while held, however long one looks.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(controller->held_workers(), 5);
    EXPECT_EQ(state.counters().nextProduct, claimed);
    EXPECT_EQ(log.size(), lines);
    EXPECT_EQ(gateway_requests(), requests);
    EXPECT_LT(claimed, 25);

    controller->toggle_pause();
    EXPECT_EQ(controller->state(), RunState::Running);
    ASSERT_TRUE(observer.wait_completed());
    EXPECT_EQ(observer.totals.succeeded, 25);
}

// The products of the list as the fixture filled it, from first to last.
std::vector<std::string> catalogue_ids(const vq::sim::MarketplaceSim& sim, int count) {
    std::vector<std::string> ids;
    for (int i = 0; i < count; ++i) ids.push_back(sim.catalogue().products()[static_cast<std::size_t>(i)].offerId);
    return ids;
}

std::vector<std::string> sorted(std::vector<std::string> ids) {
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::vector<std::string> list_ids(const std::string& path) {
    std::vector<std::string> ids;
    for (const vq::ProductEntry& row : vq::read_list_file(path).value_or(std::vector<vq::ProductEntry>{}))
        ids.push_back(row.offerId);
    return ids;
}

// What a stopped run leaves must be the run's whole list: the package holds the finished
// products, the continuation list the others, each once, and continuing it completes it.
void expect_stop_keeps_everything(BatchControllerTest& test, const std::vector<std::string>& all,
                                  const std::optional<std::vector<std::string>>& left = {}) {
    const vq::RunTotals totals = test.totals();
    EXPECT_TRUE(totals.stopped);
    std::vector<std::string> packaged;
    if (vq::file_exists(test.package_path())) {
        // Read strictly; each kept picture holds the bytes the stand-in serves for its place.
        for (const auto& row : runtest::expect_package_as_served(test.package_path(), test.package_folder(),
                                                                 vq::PackageFormat::Taobao, test.sim,
                                                                 test.folder.path)) {
            packaged.push_back(row.size() > 36 ? row[36] : std::string());
        }
    }
    EXPECT_EQ(static_cast<int>(packaged.size()), totals.rowsWritten);
    const std::vector<std::string> listed = list_ids(totals.failedListPath);
    if (left) {
        EXPECT_EQ(listed, *left);
    }
    packaged.insert(packaged.end(), listed.begin(), listed.end());
    EXPECT_EQ(sorted(packaged), sorted(all));
    if (::testing::Test::HasFailure()) {
        for (const std::string& line : test.log.lines()) std::fprintf(stderr, "%s", vq::gbk_to_utf8(line).c_str());
    }
}

TEST_F(BatchControllerTest, StopKeepsTheFinishedProductsAndListsTheRest) {
    start_sim();
    fill_list(12);
    make_controller(5, false);
    const std::vector<std::string> all = catalogue_ids(sim, 12);
    // Product 7 waits at the stand-in; the workers finish every other product meanwhile.
    sim.hold_requests("gateway", all[6]);
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(sim.wait_held(1));
    ASSERT_TRUE(observer.wait_progress(11));
    controller->toggle_pause();
    controller->stop_run();

    // Written and heard when stop_run returns, and nothing of the run moves afterwards.
    EXPECT_EQ(controller->state(), RunState::Idle);
    ASSERT_EQ(observer.completion_count(), 1);
    const vq::RunTotals stopped = totals();
    EXPECT_EQ(stopped.succeeded, 11);
    EXPECT_EQ(stopped.failed, 0);
    EXPECT_EQ(stopped.notDone, 1);
    EXPECT_TRUE(stopped.packageWritten);
    EXPECT_TRUE(stopped.checkClean) << vq::gbk_to_utf8(stopped.checkSummary);
    expect_stop_keeps_everything(*this, all, std::vector<std::string>{all[6]});
    EXPECT_EQ(log.count_containing("任务已停止：成功 11 个，失败 0 个，未完成 1 个"), 1);
    const std::size_t lines = log.size();
    sim.release_requests();
    EXPECT_EQ(log.size(), lines);

    // Continued from its list, the run completes the same package.
    list.replace_all(*vq::read_list_file(stopped.failedListPath));
    observer.reset_completions();
    vq::StartOptions continuing;
    continuing.append = true;
    ASSERT_TRUE(controller->start_run(continuing).started);
    ASSERT_TRUE(observer.wait_idle());
    EXPECT_FALSE(totals().stopped);
    EXPECT_EQ(sorted(package_ids()), sorted(all));
    EXPECT_FALSE(vq::file_exists(stopped.failedListPath));
}

// Requests that never answer: the stop ends them at once; with nothing finished there is no
// package, and the whole list is the continuation.
TEST_F(BatchControllerTest, StopWhileRequestsHangEndsPromptly) {
    vq::sim::SimOptions options;
    options.faults.hang = 1.0;
    start_sim(options);
    fill_list(10);
    make_controller(5, false);
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(wait_for([&] { return gateway_requests() >= 5; }));
    const auto before = std::chrono::steady_clock::now();
    controller->stop_run();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_FALSE(vq::file_exists(package_path()));
    EXPECT_FALSE(totals().packageWritten);
    EXPECT_EQ(totals().notDone, 10);
    expect_stop_keeps_everything(*this, catalogue_ids(sim, 10), catalogue_ids(sim, 10));
    EXPECT_EQ(log.count_containing("已停止：没有写入数据包。"), 1);
}

// A list longer than one run may hold runs in parts: each part is added to the package when
// it is done, and a stop in a later part keeps the parts before it.
TEST_F(BatchControllerTest, ALongListRunsInPartsIntoOnePackage) {
    start_sim();
    fill_list(12);
    make_controller(5, false);
    const std::vector<std::string> all = catalogue_ids(sim, 12);
    vq::StartOptions parts;
    parts.inParts = true;
    parts.partSize = 5;
    ASSERT_TRUE(controller->start_run(parts).started);
    ASSERT_TRUE(observer.wait_idle());
    EXPECT_EQ(totals().parts, 3);
    EXPECT_EQ(totals().succeeded, 12);
    EXPECT_TRUE(totals().checkClean) << vq::gbk_to_utf8(totals().checkSummary);
    EXPECT_EQ(sorted(package_ids()), sorted(all));
    EXPECT_EQ(log.count_containing(" 文件写成功！"), 3);
    EXPECT_EQ(log.count_containing("分 3 批下载，每批 5 个宝贝"), 1);

    // Product 8 of the second part waits: the third part cannot begin, the first is written.
    observer.reset_completions();
    sim.hold_requests("gateway", all[7]);
    ASSERT_TRUE(controller->start_run(parts).started);
    ASSERT_TRUE(sim.wait_held(1));
    ASSERT_TRUE(observer.wait_progress(9));
    controller->stop_run();
    sim.release_requests();
    EXPECT_EQ(totals().rowsWritten, 9);
    EXPECT_EQ(totals().notDone, 3);
    expect_stop_keeps_everything(*this, all, std::vector<std::string>{all[7], all[10], all[11]});
}

// Parts added to the table one after the other, and a later run told to append, in every
// format: the table reads back strictly, each row with the format's field count and each
// main picture with the bytes the stand-in serves for its place; the later run's own check
// looks at its rows.
TEST_F(BatchControllerTest, AppendedRowsReadBackWholeInEveryFormat) {
    start_sim();
    const auto& products = sim.catalogue().products();
    ASSERT_GE(products.size(), 15u);
    std::vector<vq::ProductEntry> later;
    for (std::size_t i = 12; i < 15; ++i) {
        later.push_back({vq::utf8_to_gbk(products[i].title), products[i].price,
                         "http://example/" + products[i].offerId, products[i].offerId});
    }
    for (const int format : {4, 5, 6}) {
        SCOPED_TRACE(format);
        std::filesystem::remove_all(package_folder());
        for (const char* end : {".csv", ".source.tsv", ".failed.txt"}) std::filesystem::remove(folder.path + "/pkg" + end);
        list.replace_all({});
        fill_list(12);
        make_controller(format, false);
        observer.reset_completions();
        vq::StartOptions parts;
        parts.inParts = true;
        parts.partSize = 5;
        ASSERT_TRUE(controller->start_run(parts).started);
        ASSERT_TRUE(observer.wait_idle());
        EXPECT_TRUE(totals().checkClean) << vq::gbk_to_utf8(totals().checkSummary);

        list.replace_all(later);
        observer.reset_completions();
        vq::StartOptions more;
        more.append = true;
        ASSERT_TRUE(controller->start_run(more).started);
        ASSERT_TRUE(observer.wait_idle());
        EXPECT_TRUE(totals().checkClean) << vq::gbk_to_utf8(totals().checkSummary);
        EXPECT_EQ(totals().checkSummary.rfind("检查：宝贝 15 个，本次写入的 3 个："_gbk, 0), 0u)
            << vq::gbk_to_utf8(totals().checkSummary);
        EXPECT_EQ(runtest::expect_package_as_served(package_path(), package_folder(),
                                                    *vq::format_from_number(format), sim, folder.path)
                      .size(),
                  15u);
    }
}

// Stopped at any moment of a run in parts, before, between and inside its parts.
TEST_F(BatchControllerTest, AStopAtAnyMomentKeepsEveryProductOnce) {
    vq::sim::SimOptions slow;
    slow.latencyMs = 5;
    start_sim(slow);
    fill_list(12);
    make_controller(5, false);
    const std::vector<std::string> all = catalogue_ids(sim, 12);
    vq::StartOptions parts;
    parts.inParts = true;
    parts.partSize = 4;
    for (const int done : {0, 1, 4, 5, 7, 8, 11}) {
        SCOPED_TRACE(done);
        observer.reset_completions();
        ASSERT_TRUE(controller->start_run(parts).started);
        ASSERT_TRUE(observer.wait_progress(done));
        controller->stop_run();
        ASSERT_EQ(observer.completion_count(), 1);
        if (totals().stopped) expect_stop_keeps_everything(*this, all);
    }
}

TEST_F(BatchControllerTest, ListShortenedDuringTheRunCountsTheMissingAsFailed) {
    start_sim();
    fill_list(10);
    make_controller(5, false);
    // Each worker's first product waits at the stand-in; held, none can claim a second, so
    // rows 5 to 9 are gone before products 6 to 10 are read.
    sim.hold_requests("gateway");
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(sim.wait_held(5));
    controller->toggle_pause();
    list.delete_rows({5, 6, 7, 8, 9});
    sim.release_requests();
    controller->toggle_pause();
    ASSERT_TRUE(observer.wait_completed());
    EXPECT_EQ(observer.totals.productCount, 10);
    EXPECT_EQ(observer.totals.succeeded, 5);
    EXPECT_EQ(observer.totals.failed, 5);
}

// A path chosen or a format saved during a run belongs to the next run: the package is
// written whole, in one format, where the run started it.
TEST_F(BatchControllerTest, SettingsChangedDuringARunApplyToTheNextRun) {
    start_slow_run(20, 12);
    ASSERT_TRUE(observer.wait_progress(2));
    state.set_output(folder.path + "/", "other");
    outputPath.set(folder.path + "/other.csv");
    state.outputFormat = *vq::format_from_number(4);
    state.pictureFailurePolicy = vq::FailurePolicy::Remove;
    ASSERT_TRUE(observer.wait_completed());
    EXPECT_EQ(observer.totals.packagePath, package_path());
    EXPECT_TRUE(observer.totals.checkClean) << vq::gbk_to_utf8(observer.totals.checkSummary);
    const auto rows = runtest::read_package_strictly(package_path(), folder.path);
    EXPECT_EQ(rows.size(), 12u);  // format 5 throughout, read as such
    EXPECT_FALSE(vq::file_exists(folder.path + "/other.csv"));
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/other"));

    // The next run takes the new ones.
    ASSERT_TRUE(observer.wait_idle());
    observer.reset_completions();
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(observer.wait_completed());
    const auto bytes = vq::read_file_bytes(folder.path + "/other.csv");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->substr(0, 2), "\xFF\xFE");
    EXPECT_TRUE(std::filesystem::is_directory(folder.path + "/other"));
}

TEST_F(BatchControllerTest, AWorkerThatCannotStartDoesNotHoldUpTheRun) {
    start_sim();
    fill_list(6);
    make_controller(5, false);
    int launched = 0;
    controller->set_thread_launcher([&launched](std::function<void()> body) {
        if (++launched == 3) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(body));
    });
    ASSERT_TRUE(controller->start_run().started);
    ASSERT_TRUE(observer.wait_completed());
    EXPECT_EQ(observer.totals.succeeded, 6);
    EXPECT_EQ(log.count_containing(" 线程：3 无法启动！"), 1);
}

}  // namespace

// Pause and continue pressed over and over while runs complete: whatever the order, each
// run ends Idle, the observer hears Idle last, and START works again.
TEST_F(BatchControllerTest, PauseAgainstCompletionAlwaysEndsIdle) {
    make_controller(5);
    for (int round = 0; round < 200; ++round) {
        // Rows without ids: the run completes as soon as it starts.
        list.append_row({"a", "1", "x", ""});
        const int before = observer.completion_count();
        ASSERT_TRUE(controller->start_run().started) << "round " << round;
        std::atomic<bool> done{false};
        std::thread presser([&] {
            while (!done) controller->toggle_pause();
        });
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (observer.completion_count() == before && std::chrono::steady_clock::now() < until) {
            std::this_thread::yield();
        }
        // Keep pressing across the completion's own change to Idle.
        std::this_thread::sleep_for(1ms);
        done = true;
        presser.join();
        ASSERT_EQ(observer.completion_count(), before + 1) << "round " << round;
        // The completion's Idle is heard last, though possibly just after state() reads it.
        ASSERT_TRUE(observer.wait_heard_idle(before + 1)) << "round " << round;
        ASSERT_EQ(controller->state(), RunState::Idle) << "round " << round;
        std::lock_guard lock(observer.mutex_);
        ASSERT_EQ(observer.states.back(), RunState::Idle) << "round " << round;
    }
}
