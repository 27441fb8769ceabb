#include "run/batch_controller.hpp"

#include <cstdio>
#include <system_error>
#include <unordered_map>

#include "model/list_file.hpp"
#include "net/http_client.hpp"
#include "output/package_check.hpp"
#include "output/package_writer.hpp"
#include "run/offer_pipeline.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"

namespace vq {

namespace {

// The log as a stopped run's workers see it: silent once the run is stopped.
class FencedLog final : public LogSink {
public:
    FencedLog(LogSink* target, const CancelToken& token) : target_(target), token_(token) {}
    void append_log(std::string_view text) override {
        if (target_ && !token_.is_cancelled()) target_->append_log(text);
    }

private:
    LogSink* target_;
    const CancelToken& token_;
};

std::string number(int value) { return std::to_string(value); }

// What the end of a run reports before the package's part: the counts and where it goes.
RunTotals run_totals(const BatchState::Counters& counters, const RunSettings& settings) {
    RunTotals totals;
    totals.productCount = counters.productCount;
    totals.succeeded = counters.succeeded;
    totals.failed = counters.failed;
    totals.failedPictures = counters.failedPictures;
    totals.skipped = counters.skipped;
    totals.packagePath = settings.outputPath;
    totals.packageFolder = settings.packageFolder;
    totals.outputFormat = settings.outputFormat;
    return totals;
}

}  // namespace

struct BatchController::Run {
    Run(LogSink* target, RunSettings taken) : log(target, token), settings(std::move(taken)) {}
    CancelToken token;
    FencedLog log;
    const RunSettings settings;
    // Orders a stop against the completion: whichever takes it first decides whether the
    // run completes (package, totals) or is abandoned.
    std::mutex commitMutex;
    bool completed = false;
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    PictureCache pictures;  // the run's saved pictures, shared by its workers
    FileLock lock;          // the package's, from START to the end of the run
    WriteTrouble trouble;   // a picture the disk refused, which ends the run
    // For each row (0-based), the number of the earlier row with its offer id, or 0; set at
    // START, before the workers.
    std::vector<int> earlierWithId;
    std::mutex refusalMutex;
    std::string keyRefusal;  // the first "接口密钥被拒绝" of the run
};

BatchController::BatchController(RunPorts ports)
    : ports_(ports), clock_(ports.clock ? ports.clock : &system_clock()) {
    launcher_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
}

BatchController::~BatchController() {
    stop_run();
    join_previous();
}

void BatchController::set_thread_launcher(ThreadLauncher launcher) {
    launcher_ = std::move(launcher);
}

RunState BatchController::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

int BatchController::held_workers() const {
    std::lock_guard lock(mutex_);
    return run_ ? run_->token.held_waiters() : 0;
}

bool BatchController::change_state(const std::shared_ptr<Run>& run,
                                   const std::function<std::optional<RunState>(RunState)>& next) {
    std::lock_guard order(notifyMutex_);
    RunState changed;
    {
        std::lock_guard lock(mutex_);
        if (run && run_ != run) return false;
        const std::optional<RunState> to = next(state_);
        if (!to) return false;
        state_ = changed = *to;
        if (run_) run_->token.set_held(changed == RunState::Held);
    }
    if (ports_.observer) ports_.observer->run_state_changed(changed);
    return true;
}

void BatchController::join_previous() {
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(mutex_);
        run = run_;
    }
    if (!run) return;
    for (std::thread& thread : run->threads) {
        if (thread.joinable()) thread.join();
    }
    run->threads.clear();
}

StartResult BatchController::start_run(const StartOptions& options) {
    std::lock_guard starting(startMutex_);
    if (state() != RunState::Idle) return {};
    ProductList& list = *ports_.list;
    BatchState& state = *ports_.state;

    const int rows = list.row_count();
    if (rows < 1) return {};
    RunSettings settings;
    settings.outputPath = ports_.outputPath->get();
    settings.packageFolder = state.package_folder();
    settings.outputFormat = state.outputFormat.load() == 4 ? 4 : 5;
    if (options.target) {
        settings.outputPath = options.target->outputPath;
        settings.packageFolder = options.target->packageFolder;
        settings.outputFormat = options.target->outputFormat == 4 ? 4 : 5;
    }
    if (settings.outputPath.empty()) {
        return {false, "请检查保存的文件名是否正确！"_gbk};
    }
    settings.pictureFailurePolicy = state.pictureFailurePolicy.load();
    settings.append = options.append;
    settings.rules = state.rules();
    if (rows > kMostProducts) {
        return {false, "每次采集数量不超过1000个，如超过，请按帮助拆分为几次分别采集！"_gbk};
    }
    // A folder that takes no file would let the run fetch everything and keep nothing.
    const std::size_t slash = settings.outputPath.rfind('/');
    const std::string tableFolder =
        slash == std::string::npos ? std::string(".")
                                   : settings.outputPath.substr(0, slash == 0 ? 1 : slash);
    for (const std::string& where : {tableFolder, settings.packageFolder}) {
        if (where == settings.packageFolder && !file_exists(where)) continue;
        if (!StagedFile(where).ok()) {
            return {false, "数据包文件夹无法写入（unusable output path）："_gbk + where};
        }
    }
    // The package is this run's until it ends: two runs on one package would lose one run's
    // rows. The lock file beside it tells every program; the lock ends with the run or with
    // the process, however it ends.
    FileLock lock = FileLock::try_take(settings.packageFolder + ".lock");
    if (lock.busy()) return {false, "数据包正被另一个任务使用："_gbk + settings.outputPath};
    if (settings.append) {
        // Refused before anything is fetched: the rows would have nowhere whole to go.
        const FileRead existing = read_regular_file(settings.outputPath, kMostTableBytes);
        std::string why;
        if (existing.ok()) {
            why = append_refusal(settings.outputFormat, existing.bytes);
        } else if (existing.status == FileReadStatus::NotRegular) {
            why = "不是普通文件"_gbk;
        } else if (existing.status == FileReadStatus::TooLarge) {
            why = "文件太大"_gbk;
        } else {
            why = file_exists(settings.outputPath) ? "无法读取"_gbk : "文件不存在"_gbk;
        }
        if (!why.empty()) {
            return {false, "无法追加到数据包："_gbk + settings.outputPath + "（"_gbk + why +
                               "），没有下载任何宝贝。"_gbk};
        }
    }

    const int count = list.remove_rows_without_id();
    // One product goes into a package once: a row repeating an earlier row's id is skipped.
    std::vector<int> earlierWithId;
    {
        std::unordered_map<std::string, int> first;
        const std::vector<ProductEntry> entries = list.rows();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto [at, added] = first.emplace(entries[i].offerId, static_cast<int>(i) + 1);
            earlierWithId.push_back(added ? 0 : at->second);
        }
    }
    if (ports_.log) {
        ports_.log->append_log(log_time_stamp(*clock_) + "  去除空ID宝贝【实际宝贝数量为"_gbk +
                               number(count) + "  个宝贝】\r\n"_gbk);
    }

    // The threads of the previous run have ended (completed or stopped); collect them.
    join_previous();
    const int workers = ports_.workers < 1 ? 1 : ports_.workers;
    state.reset_run(count, workers);
    make_directory(settings.packageFolder);
    if (lock.held()) {
        // Ours alone now: what a killed run of this package left behind is no one's.
        const int stale = remove_stale_parts(settings.packageFolder) +
                          remove_stale_copies(settings.outputPath) +
                          remove_stale_copies(settings.packageFolder + ".failed.txt");
        if (stale > 0 && ports_.log) {
            ports_.log->append_log(log_time_stamp(*clock_) + " 已删除中断的任务留下的临时文件 "_gbk +
                                   number(stale) + " 个\r\n"_gbk);
        }
    }

    auto run = std::make_shared<Run>(ports_.log, std::move(settings));
    run->lock = std::move(lock);
    run->earlierWithId = std::move(earlierWithId);
    // Only START leaves Idle, and START is serialised, so this cannot be refused.
    change_state(nullptr, [this, &run](RunState) -> std::optional<RunState> {
        run_ = run;
        return RunState::Running;
    });

    for (int worker = 1; worker <= workers; ++worker) {
        try {
            run->threads.push_back(launcher_([this, run, worker] { run_worker(run, worker); }));
        } catch (const std::system_error&) {
            // The completion waits for every worker to finish: count this one as finished
            // with nothing done, so the others can still complete the run.
            run->log.append_log(log_time_stamp(*clock_) + " 线程："_gbk + number(worker) +
                                " 无法启动！其余线程继续下载。\r\n"_gbk);
            finish_worker(run, worker, 0);
        }
    }
    return {true, {}};
}

void BatchController::run_worker(const std::shared_ptr<Run>& run, int worker) {
    CancelScope scope(run->token);
    RunEnvironment environment;
    environment.list = ports_.list;
    environment.state = ports_.state;
    environment.options = ports_.options;
    environment.log = &run->log;
    environment.clock = clock_;
    environment.token = &run->token;
    environment.settings = run->settings;
    environment.picturesAhead = ports_.picturesAhead;
    environment.pictureCache = ports_.picturesAhead ? &run->pictures : nullptr;
    environment.writeTrouble = &run->trouble;
    ProductPipeline pipeline(worker, environment);
    BatchState& state = *ports_.state;

    for (;;) {
        if (!run->token.wait_while_held()) return;
        const int n = state.claim_next_product();
        if (n == 0) break;
        const std::size_t row_index = static_cast<std::size_t>(n - 1);
        const int earlier = row_index < run->earlierWithId.size() ? run->earlierWithId[row_index] : 0;
        if (earlier > 0) {
            run->log.append_log(log_time_stamp(*clock_) + " 线程："_gbk + number(worker) + " 第："_gbk +
                                number(n) + "/" + number(state.productCount()) +
                                " 个宝贝与第 "_gbk + number(earlier) + " 个宝贝ID相同，已跳过！\r\n"_gbk);
            state.record_skipped();
        } else {
            std::optional<std::string> row = pipeline.process_product(n);
            if (run->token.is_cancelled()) return;
            if (run->trouble.seen()) {
                end_for_trouble(run);
                return;
            }
            if (row) {
                state.append_package_row(*row, pipeline.last_failed_pictures());
            } else if (!pipeline.last_entry().offerId.empty()) {
                state.record_failed_product(n, pipeline.last_entry());
            }
            if (!pipeline.last_key_refusal().empty()) {
                std::lock_guard lock(run->refusalMutex);
                if (run->keyRefusal.empty()) run->keyRefusal = pipeline.last_key_refusal();
            }
        }
        const int done = ++run->done;
        if (ports_.observer) {
            const BatchState::Counters counters = state.counters();
            ports_.observer->run_progress(done, counters.productCount, counters.succeeded);
        }
    }
    if (run->token.is_cancelled()) return;
    finish_worker(run, worker, pipeline.last_product_number());
}

void BatchController::end_for_trouble(const std::shared_ptr<Run>& run) {
    {
        // The first worker to see it ends the run; a stop or the completion may be first.
        std::lock_guard lock(run->commitMutex);
        if (run->completed || run->token.is_cancelled()) return;
        run->completed = true;
    }
    const std::string reason = run->trouble.message();
    run->log.append_log(log_time_stamp(*clock_) + " " + reason +
                        "，任务已停止，没有写入数据包。\r\n"_gbk);
    // The other workers give up what they do now; the log is silent for them from here.
    run->token.cancel();
    run->pictures.drop_unsaved();
    const BatchState::Counters counters = ports_.state->counters();
    RunTotals totals = run_totals(counters, run->settings);
    totals.stopReason = reason;
    end_without_package(run, totals);
}

void BatchController::finish_worker(const std::shared_ptr<Run>& run, int worker,
                                    int last_product) {
    if (ports_.state->finish_worker()) complete_run(run, worker, last_product);
}

void BatchController::complete_run(const std::shared_ptr<Run>& run, int worker,
                                   int last_product) {
    BatchState& state = *ports_.state;
    const RunSettings& settings = run->settings;
    run->pictures.drop_unsaved();
    const BatchState::Counters counters = state.complete();
    if (counters.succeeded == 0 && counters.productCount > counters.skipped) {
        end_without_products(run, counters, worker, last_product);
        return;
    }
    const auto log = [&](const std::string& text) {
        run->log.append_log(log_time_stamp(*clock_) + " " + text + "\r\n");
    };
    log("图片失败："_gbk + number(counters.failedPictures) + " 张"_gbk);
    run->log.append_log(log_time_stamp(*clock_) + " 线程："_gbk + number(worker) + " 第："_gbk +
                        number(last_product) + "/" + number(counters.productCount) +
                        " 个宝贝 下载完成！成功： "_gbk + number(counters.succeeded) +
                        " 失败："_gbk + number(counters.failed) + " 正在写文件...\r\n"_gbk);

    RunTotals totals = run_totals(counters, settings);

    const auto claim_completion = [&run] {
        std::lock_guard lock(run->commitMutex);
        if (run->token.is_cancelled()) return false;
        run->completed = true;
        return true;
    };
    const PackageWriteResult written = write_run_package(*run, claim_completion);
    if (written == PackageWriteResult::Abandoned) return;
    if (written == PackageWriteResult::Failed && !claim_completion()) return;
    totals.packageWritten = written == PackageWriteResult::Written;

    if (totals.packageWritten) {
        // Read back as the seller assistant will read it, before the user uploads it.
        const PackageCheck check = check_package(settings.outputPath, settings.packageFolder);
        int shown = 0;
        for (const std::string& problem : check.problems) {
            if (++shown > kMostCheckLines) break;
            log(problem);
        }
        log(check.summary);
        for (const std::string& warning : check.warnings) {
            if (++shown > kMostCheckLines) break;
            log(warning);
        }
        if (!check.warningSummary.empty()) log(check.warningSummary);
        totals.checkSummary = check.summary;
        totals.checkClean = check.clean();
        totals.failedListPath = write_failed_list(*run);
    }

    run->lock.release();
    if (ports_.observer) ports_.observer->run_completed(totals);
    change_state(run, [](RunState) { return std::optional(RunState::Idle); });
}

void BatchController::end_without_products(const std::shared_ptr<Run>& run,
                                           const BatchState::Counters& counters, int worker,
                                           int last_product) {
    {
        std::lock_guard lock(run->commitMutex);
        if (run->token.is_cancelled()) return;
        run->completed = true;
    }
    std::string reason = "没有一个宝贝下载成功"_gbk;
    {
        std::lock_guard lock(run->refusalMutex);
        if (!run->keyRefusal.empty()) reason += "（"_gbk + run->keyRefusal + "）"_gbk;
    }
    run->log.append_log(log_time_stamp(*clock_) + " 线程："_gbk + number(worker) + " 第："_gbk +
                        number(last_product) + "/" + number(counters.productCount) +
                        " 个宝贝 下载完成！成功： 0 失败："_gbk + number(counters.failed) + "\r\n");
    run->log.append_log(log_time_stamp(*clock_) + " " + reason + "，没有写入数据包。\r\n"_gbk);
    RunTotals totals = run_totals(counters, run->settings);
    totals.stopReason = reason;
    // The products can still be retried once the cause is mended.
    totals.failedListPath = write_failed_list(*run);
    end_without_package(run, totals);
}

void BatchController::end_without_package(const std::shared_ptr<Run>& run,
                                          const RunTotals& totals) {
    run->lock.release();
    if (ports_.observer) ports_.observer->run_completed(totals);
    change_state(run, [](RunState) { return std::optional(RunState::Idle); });
}

PackageWriteResult BatchController::write_run_package(Run& run,
                                                     const std::function<bool()>& may_commit) {
    const RunSettings& settings = run.settings;
    const std::string rows = ports_.state->take_package_rows();
    if (!settings.append) {
        return write_package_file(settings.outputFormat, settings.outputPath, rows, run.log,
                                  *clock_, may_commit);
    }
    // Read again: the package may have been changed since START. Gone, it is written anew.
    const std::optional<std::string> existing = read_file_bytes(settings.outputPath);
    if (!existing) {
        return write_package_file(settings.outputFormat, settings.outputPath, rows, run.log,
                                  *clock_, may_commit);
    }
    const std::string why = append_refusal(settings.outputFormat, *existing);
    if (!why.empty()) {
        if (may_commit && !may_commit()) return PackageWriteResult::Abandoned;
        run.log.append_log(log_time_stamp(*clock_) + " 无法追加到数据包："_gbk +
                           settings.outputPath + "（"_gbk + why + "）\r\n"_gbk);
        return PackageWriteResult::Failed;
    }
    return write_package_bytes(settings.outputPath,
                               appended_package_bytes(settings.outputFormat, *existing, rows),
                               run.log, *clock_, may_commit);
}

std::string BatchController::write_failed_list(Run& run) {
    const std::string path = run.settings.packageFolder + ".failed.txt";
    const std::vector<ProductEntry> failed = ports_.state->take_failed_products();
    if (failed.empty()) {
        // A list left from an earlier run of this package would name products it now holds.
        if (file_exists(path)) std::remove(native_path(path).c_str());
        return {};
    }
    const std::string stamp = log_time_stamp(*clock_);
    if (!write_list_file(path, failed)) {
        run.log.append_log(stamp + " 失败的宝贝列表无法写入："_gbk + path + "\r\n");
        return {};
    }
    run.log.append_log(stamp + " 失败的宝贝 "_gbk + std::to_string(failed.size()) +
                       " 个已保存到："_gbk + path + "，可以重试\r\n"_gbk);
    return path;
}

void BatchController::toggle_pause() {
    // Read and written in one step, so a completion in between cannot be overwritten.
    change_state(nullptr, [](RunState now) -> std::optional<RunState> {
        if (now == RunState::Idle) return std::nullopt;
        return now == RunState::Running ? RunState::Held : RunState::Running;
    });
}

void BatchController::stop_run() {
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(mutex_);
        if (state_ == RunState::Idle || !run_) return;
        run = run_;
    }
    bool stopped = false;
    {
        std::lock_guard lock(run->commitMutex);
        if (!run->completed) {
            run->token.cancel();
            stopped = true;
        }
    }
    join_previous();
    run->pictures.drop_unsaved();
    run->lock.release();
    if (stopped) change_state(run, [](RunState) { return std::optional(RunState::Idle); });
}

}  // namespace vq
