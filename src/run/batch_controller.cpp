#include "run/batch_controller.hpp"

#include <condition_variable>
#include <cstdio>
#include <system_error>
#include <unordered_map>

#include "api/product_api_source.hpp"
#include "api/site_settings.hpp"
#include "model/list_file.hpp"
#include "net/http_client.hpp"
#include "output/package_check.hpp"
#include "output/package_writer.hpp"
#include "output/source_file.hpp"
#include "run/offer_pipeline.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "support/process.hpp"

namespace vq {

namespace {

// The log as a stopped run's workers see it: silent once the run is stopped, until the stop
// has joined them and reopens it to say how the run ended.
class FencedLog final : public LogSink {
public:
    FencedLog(LogSink* target, const CancelToken& token) : target_(target), token_(token) {}
    void append_log(std::string_view text) override {
        if (target_ && (!token_.is_cancelled() || reopened_.load(std::memory_order_acquire)))
            target_->append_log(text);
    }
    void reopen() { reopened_.store(true, std::memory_order_release); }

private:
    LogSink* target_;
    const CancelToken& token_;
    std::atomic<bool> reopened_{false};
};

std::string number(int value) { return std::to_string(value); }

constexpr char kNotDone = 0;
constexpr char kPackaged = 1;
constexpr char kSkipped = 2;

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

std::string unsaved_rest_note(const RunTotals& totals) {
    // A run whose table could not be written keeps no list; every other end keeps its rest
    // (a disk that refused a picture ends the run before anything is counted as failed).
    const bool keeps = totals.stopped || totals.packageWritten || !totals.stopReason.empty();
    const int rest = keeps ? totals.failed + totals.notDone : 0;
    if (rest <= 0 || !totals.failedListPath.empty()) return {};
    return "其余 "_gbk + number(rest) + " 个宝贝的列表无法写入，请查看操作记录！"_gbk;
}

std::string stop_question(int finished, int rest) {
    return "已完成 "_gbk + number(finished) + " 个宝贝。停止后这些宝贝写入数据包，其余 "_gbk +
           number(rest) + " 个存入待续列表。"_gbk;
}

struct BatchController::Run {
    Run(LogSink* target, RunSettings taken) : log(target, token), settings(std::move(taken)) {}
    CancelToken token;
    FencedLog log;
    const RunSettings settings;
    // Orders a stop against the end of the run: whichever takes it first ends the run (a
    // stop by writing what is finished, the last worker by completing it).
    std::mutex commitMutex;
    bool completed = false;
    // The list as the run took it, and what became of each row: written by the worker of
    // that row only, read after the workers (a stop) or the last of them (a completion).
    std::vector<ProductEntry> rows;
    std::vector<char> outcome;
    // Parts: the workers of a part wait for the next one while its last worker writes it.
    int partSize = 0;
    int parts = 1;
    std::mutex partMutex;
    std::condition_variable partBegun;
    int part = 0;          // under partMutex
    bool partsOver = false;  // under partMutex
    // Written by the last worker of a part, read by the next part's or after the workers.
    int writtenThrough = 0;  // products 1..writtenThrough that succeeded are in the table
    int rowsWritten = 0;
    void wake_part_waiters() {
        { std::lock_guard lock(partMutex); }
        partBegun.notify_all();
    }
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    PictureCache pictures;  // the run's saved pictures, shared by its workers
    FileLock lock;          // the package's, from START to the end of the run
    WriteTrouble trouble;   // a picture the disk refused, which ends the run
    std::shared_ptr<OfferSources> sources;
    // Workers not yet ended; the last of them ends a halted run.
    std::atomic<int> live{0};
    std::string haltReason;  // under commitMutex: why the run cannot go on
    bool halted = false;     // under commitMutex
    // For each row (0-based), the number of the earlier row with its offer id, or 0; set at
    // START, before the workers.
    std::vector<int> earlierWithId;
    std::mutex refusalMutex;
    std::string keyRefusal;  // the first "接口密钥被拒绝" of the run
    std::mutex lossMutex;
    std::vector<std::pair<int, std::string>> pictureLosses;  // product number, line
    std::vector<std::string> sorted_losses() {
        std::lock_guard lock(lossMutex);
        std::sort(pictureLosses.begin(), pictureLosses.end());
        std::vector<std::string> lines;
        for (const auto& [n, line] : pictureLosses) lines.push_back(line);
        return lines;
    }
};

BatchController::BatchController(RunPorts ports)
    : ports_(ports), clock_(ports.clock ? ports.clock : &system_clock()) {
    launcher_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
}

BatchController::~BatchController() {
    abandon_run();
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
    settings.outputFormat = state.outputFormat.load();
    if (options.target) {
        settings.outputPath = options.target->outputPath;
        settings.packageFolder = options.target->packageFolder;
        settings.outputFormat = options.target->outputFormat;
    }
    if (settings.outputPath.empty()) {
        return {false, "请检查保存的文件名是否正确！"_gbk};
    }
    settings.pictureFailurePolicy = state.pictureFailurePolicy.load();
    settings.append = options.append;
    settings.rules = state.rules();
    if (rows > kMostProducts && !options.inParts) {
        return {false, "每次采集数量不超过1000个，如超过，请按帮助拆分为几次分别采集！"_gbk};
    }
    // The site's profile is read once for the run.
    std::vector<std::string> offerIds;
    for (const ProductEntry& entry : list.rows()) offerIds.push_back(entry.offerId);
    SourceChoice sources = choose_offer_sources(site_settings(), ports_.tokenPath,
                                                state.credentials(), std::move(offerIds));
    if (!sources.sources) return {false, sources.refusal};
    // One part holds as many products as one run may; a shorter list is one part.
    const int partSize = options.partSize > 0 ? std::min(options.partSize, kMostProducts) : kMostProducts;
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
    std::vector<ProductEntry> entries = list.rows();
    {
        std::unordered_map<std::string, int> first;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto [at, added] = first.emplace(entries[i].offerId, static_cast<int>(i) + 1);
            earlierWithId.push_back(added ? 0 : at->second);
        }
    }
    const int parts = count <= partSize ? 1 : (count + partSize - 1) / partSize;
    if (ports_.log) {
        ports_.log->append_log(log_time_stamp(*clock_) + "  去除空ID宝贝【实际宝贝数量为"_gbk +
                               number(count) + "  个宝贝】\r\n"_gbk);
        if (parts > 1) {
            ports_.log->append_log(log_time_stamp(*clock_) + "  分 "_gbk + number(parts) +
                                   " 批下载，每批 "_gbk + number(partSize) +
                                   " 个宝贝，每批完成后写入同一个数据包\r\n"_gbk);
        }
    }

    // The threads of the previous run have ended (completed or stopped); collect them.
    join_previous();
    const int workers = ports_.workers < 1 ? 1 : ports_.workers;
    state.reset_run(count, workers, parts > 1 ? partSize : 0);
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
    run->sources = std::move(sources.sources);
    run->lock = std::move(lock);
    run->earlierWithId = std::move(earlierWithId);
    run->rows = std::move(entries);
    run->outcome.assign(run->rows.size(), kNotDone);
    run->partSize = partSize;
    run->parts = parts;
    // Only START leaves Idle, and START is serialised, so this cannot be refused.
    change_state(nullptr, [this, &run](RunState) -> std::optional<RunState> {
        run_ = run;
        return RunState::Running;
    });

    run->live = workers;
    for (int worker = 1; worker <= workers; ++worker) {
        try {
            run->threads.push_back(launcher_([this, run, worker] { run_worker(run, worker); }));
        } catch (const std::system_error&) {
            // A part ends when every worker has finished it: count this one out, so the
            // others can still complete the run.
            run->log.append_log(log_time_stamp(*clock_) + " 线程："_gbk + number(worker) +
                                " 无法启动！其余线程继续下载。\r\n"_gbk);
            count_out_worker(run, worker);
        }
    }
    return {true, {}};
}

void BatchController::run_worker(const std::shared_ptr<Run>& run, int worker) {
    // The worker and the thread that fetches its answers ahead are held as one.
    CancelScope scope(run->token, worker);
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
    environment.sources = run->sources;
    environment.millis = ports_.millis;
    // However this worker ends, the last one out ends a halted run.
    struct Leave {
        BatchController& controller;
        const std::shared_ptr<Run>& run;
        ~Leave() { controller.leave_worker(run); }
    } leave{*this, run};
    ProductPipeline pipeline(worker, environment);
    BatchState& state = *ports_.state;

    const auto earlier_with_id = [&run](int n) {
        const std::size_t row_index = static_cast<std::size_t>(n - 1);
        return row_index < run->earlierWithId.size() ? run->earlierWithId[row_index] : 0;
    };
    // Claimed while the product before was under way, so that its answer could come ahead.
    int claimed = 0;
    const auto claim_next = [&]() -> int {
        claimed = state.claim_next_product();
        return claimed > 0 && earlier_with_id(claimed) == 0 ? claimed : 0;
    };
    int part = 0;
    for (;;) {
        for (;;) {
            if (!run->token.wait_while_held()) return;
            const int n = claimed > 0 ? std::exchange(claimed, 0) : state.claim_next_product();
            if (n == 0) break;
            const std::size_t row_index = static_cast<std::size_t>(n - 1);
            const int earlier = earlier_with_id(n);
            char outcome = kNotDone;
            if (earlier > 0) {
                run->log.append_log(log_time_stamp(*clock_) + " 线程："_gbk + number(worker) +
                                    " 第："_gbk + number(n) + "/" + number(state.productCount()) +
                                    " 个宝贝与第 "_gbk + number(earlier) + " 个宝贝ID相同，已跳过！\r\n"_gbk);
                state.record_skipped();
                outcome = kSkipped;
            } else {
                std::optional<std::string> row = pipeline.process_product(n, claim_next);
                if (!pipeline.run_end().empty()) {
                    halt(*run, pipeline.run_end());
                    return;
                }
                // A product the stop cut short is not finished: it goes to the continuation.
                if (run->token.is_cancelled()) return;
                if (run->trouble.seen()) {
                    end_for_trouble(run);
                    return;
                }
                if (row) {
                    const int lost = pipeline.last_failed_pictures();
                    state.append_package_row(*row, lost, pipeline.last_source_line());
                    outcome = kPackaged;
                    if (lost > 0) {
                        const ProductEntry& entry = pipeline.last_entry();
                        std::lock_guard lock(run->lossMutex);
                        run->pictureLosses.emplace_back(
                            n, "第 "_gbk + number(n) + " 个宝贝 "_gbk + entry.offerId + "："_gbk +
                                   entry.title + "，图片失败 "_gbk + number(lost) + " 张"_gbk);
                    }
                } else if (!pipeline.last_entry().offerId.empty()) {
                    state.record_failed_product(n, pipeline.last_entry());
                }
                if (!pipeline.last_key_refusal().empty()) {
                    std::lock_guard lock(run->refusalMutex);
                    if (run->keyRefusal.empty()) run->keyRefusal = pipeline.last_key_refusal();
                }
            }
            if (row_index < run->outcome.size()) run->outcome[row_index] = outcome;
            const int done = ++run->done;
            if (ports_.observer) {
                const BatchState::Counters counters = state.counters();
                ports_.observer->run_progress(done, counters.productCount, counters.succeeded);
            }
        }
        if (run->token.is_cancelled()) return;
        if (state.finish_worker()) {
            if (!finish_part(run, worker, pipeline.last_product_number())) return;
            ++part;
            continue;
        }
        // The part's last worker writes it; then everyone goes on with the next part.
        std::unique_lock lock(run->partMutex);
        run->partBegun.wait(lock, [&] {
            return run->part != part || run->partsOver || run->token.is_cancelled();
        });
        if (run->part == part) return;
        part = run->part;
    }
}

void BatchController::count_out_worker(const std::shared_ptr<Run>& run, int worker) {
    if (ports_.state->remove_worker()) finish_part(run, worker, 0);
    leave_worker(run);
}

void BatchController::halt(Run& run, const std::string& reason) {
    {
        std::lock_guard lock(run.commitMutex);
        if (run.completed) return;
        run.completed = true;
        run.halted = true;
        run.haltReason = reason;
    }
    // Said before the cancel, which silences the run's log until its end is written.
    run.log.append_log(log_time_stamp(*clock_) + " " + reason + "\r\n");
    run.token.cancel();
    run.wake_part_waiters();
}

void BatchController::leave_worker(const std::shared_ptr<Run>& run) {
    if (--run->live > 0) return;
    std::string reason;
    {
        std::lock_guard lock(run->commitMutex);
        if (!run->halted) return;
        run->halted = false;
        reason = run->haltReason;
    }
    // Every worker has ended: what they finished is kept, as after a stop.
    run->log.reopen();
    complete_stopped(run, reason);
}

bool BatchController::finish_part(const std::shared_ptr<Run>& run, int worker, int last_product) {
    BatchState& state = *ports_.state;
    const BatchState::Counters counters = state.counters();
    if (counters.partEnd >= counters.productCount || counters.workers <= 0) {
        {
            std::lock_guard lock(run->partMutex);
            run->partsOver = true;
        }
        run->partBegun.notify_all();
        complete_run(run, worker, last_product);
        return false;
    }
    {
        std::lock_guard lock(run->commitMutex);
        if (run->completed || run->token.is_cancelled()) return false;
    }
    // A part is written as soon as it is done, so a later fault keeps it. A stop coming now
    // waits for the write and ends the run with the part in the table.
    const std::string rows = state.take_package_rows();
    const std::string sources = state.take_source_rows();
    const int part = counters.partEnd / std::max(run->partSize, 1);
    run->log.append_log(log_time_stamp(*clock_) + " 第 "_gbk + number(part) + "/" +
                        number(run->parts) + " 批 下载完成！成功： "_gbk +
                        number(counters.succeeded - run->rowsWritten) + " 正在写文件...\r\n"_gbk);
    if (write_run_package(*run, rows, sources) != PackageWriteResult::Written) {
        // Kept for the end, which tries once more and says what is on disk; the parts not
        // begun go to the continuation list with the rest.
        state.restore_package_rows(rows);
        state.restore_source_rows(sources);
        {
            std::lock_guard lock(run->commitMutex);
            if (run->completed || run->token.is_cancelled()) return false;
            run->completed = true;
        }
        {
            std::lock_guard lock(run->partMutex);
            run->partsOver = true;
        }
        run->partBegun.notify_all();
        complete_stopped(run, "数据包文件未能写入"_gbk);
        return false;
    }
    run->writtenThrough = counters.partEnd;
    run->rowsWritten = counters.succeeded;
    if (run->token.is_cancelled()) return false;
    state.begin_part(counters.partEnd + run->partSize);
    {
        std::lock_guard lock(run->partMutex);
        ++run->part;
    }
    run->partBegun.notify_all();
    return true;
}

void BatchController::end_for_trouble(const std::shared_ptr<Run>& run) {
    {
        // The first worker to see it ends the run; a stop or the completion may be first.
        std::lock_guard lock(run->commitMutex);
        if (run->completed || run->token.is_cancelled()) return;
        run->completed = true;
    }
    const std::string reason = run->trouble.message();
    // The parts written before stay in the table: say so, not that nothing was written.
    run->log.append_log(log_time_stamp(*clock_) + " " + reason +
                        (run->rowsWritten > 0
                             ? "，任务已停止，数据包中只有之前写入的 "_gbk + number(run->rowsWritten) +
                                   " 个宝贝。\r\n"_gbk
                             : "，任务已停止，没有写入数据包。\r\n"_gbk));
    // The other workers give up what they do now; the log is silent for them from here.
    run->token.cancel();
    run->wake_part_waiters();
    run->pictures.drop_unsaved();
    const BatchState::Counters counters = ports_.state->counters();
    RunTotals totals = run_totals(counters, run->settings);
    totals.stopReason = reason;
    totals.rowsWritten = run->rowsWritten;
    totals.parts = run->parts;
    end_with_totals(run, totals);
}

void BatchController::complete_run(const std::shared_ptr<Run>& run, int worker,
                                   int last_product) {
    {
        // From here the run is complete: a stop now waits for the package instead.
        std::lock_guard lock(run->commitMutex);
        if (run->completed || run->token.is_cancelled()) return;
        run->completed = true;
    }
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
    totals.parts = run->parts;
    // The rows go before the package is read back: the check holds the whole table.
    PackageWriteResult written;
    {
        const std::string rows = state.take_package_rows();
        written = write_run_package(*run, rows, state.take_source_rows());
    }
    totals.packageWritten = written == PackageWriteResult::Written;
    totals.rowsWritten = totals.packageWritten ? counters.succeeded : run->rowsWritten;
    if (totals.packageWritten) {
        check_written_package(*run, totals);
        totals.failedListPath = write_failed_list(*run);
    }
    end_with_totals(run, totals);
}

void BatchController::check_written_package(Run& run, RunTotals& totals) {
    const auto log = [&](const std::string& text) {
        run.log.append_log(log_time_stamp(*clock_) + " " + text + "\r\n");
    };
    // What writing it took is handed back first: the whole table is read in again now.
    trim_working_set();
    // Read back as the seller assistant will read it, before the user uploads it. The rows
    // an earlier run wrote were checked then: they count for what must stay unique.
    const PackageCheck check =
        check_package(run.settings.outputPath, run.settings.packageFolder, totals.rowsWritten);
    int shown = 0;
    for (const std::string& problem : check.problems) {
        if (++shown > kMostCheckLines) break;
        log(problem);
        totals.checkProblems.push_back(problem);
    }
    log(check.summary);
    for (const std::string& warning : check.warnings) {
        if (++shown > kMostCheckLines) break;
        log(warning);
        totals.checkWarnings.push_back(warning);
    }
    if (!check.warningSummary.empty()) log(check.warningSummary);
    totals.checkSummary = check.summary;
    totals.checkClean = check.clean();
}

void BatchController::complete_stopped(const std::shared_ptr<Run>& run, const std::string& reason) {
    BatchState& state = *ports_.state;
    run->pictures.drop_unsaved();
    const BatchState::Counters counters = state.counters();
    RunTotals totals = run_totals(counters, run->settings);
    totals.parts = run->parts;
    totals.stopped = reason.empty();
    totals.stopReason = reason;
    // Failed: tried and made no row; the products cut short or never begun are not done.
    int packaged = 0, skipped = 0;
    for (const char outcome : run->outcome) {
        packaged += outcome == kPackaged;
        skipped += outcome == kSkipped;
    }
    const int tried = run->done.load();
    totals.failed = std::max(0, tried - packaged - skipped);
    const auto stamp = [&] { return log_time_stamp(*clock_); };
    if (totals.stopped) {
        run->log.append_log(stamp() + " 任务已停止：成功 "_gbk + number(counters.succeeded) +
                            " 个，失败 "_gbk + number(totals.failed) + " 个，未完成 "_gbk +
                            number(counters.productCount - counters.succeeded - counters.skipped -
                                   totals.failed) +
                            " 个\r\n"_gbk);
    }

    bool allWritten = true;
    {
        const std::string rows = state.take_package_rows();
        const std::string sources = state.take_source_rows();
        if (!rows.empty()) {
            run->log.append_log(stamp() + " 已完成的 "_gbk + number(counters.succeeded - run->rowsWritten) +
                                " 个宝贝 正在写文件...\r\n"_gbk);
            allWritten = write_run_package(*run, rows, sources) == PackageWriteResult::Written;
            if (allWritten) {
                run->writtenThrough = counters.productCount;
                run->rowsWritten = counters.succeeded;
            }
        }
    }
    totals.rowsWritten = run->rowsWritten;
    totals.packageWritten = allWritten && run->rowsWritten > 0;
    if (run->rowsWritten > 0) check_written_package(*run, totals);
    totals.failedListPath = write_continuation_list(*run, totals.notDone);
    if (!totals.packageWritten) {
        // Parts written before stay in the table: say so, not that nothing was written.
        const std::string what = run->rowsWritten > 0 ? "数据包中只有之前写入的 "_gbk +
                                                            number(run->rowsWritten) + " 个宝贝。"_gbk
                                                      : "没有写入数据包。"_gbk;
        run->log.append_log(stamp() + (totals.stopped ? " 已停止："_gbk : " " + reason + "，任务已停止，"_gbk) +
                            what + "\r\n");
    }
    end_with_totals(run, totals);
}

void BatchController::end_without_products(const std::shared_ptr<Run>& run,
                                           const BatchState::Counters& counters, int worker,
                                           int last_product) {
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
    totals.parts = run->parts;
    // The products can still be retried once the cause is mended.
    totals.failedListPath = write_failed_list(*run);
    end_with_totals(run, totals);
}

void BatchController::end_with_totals(const std::shared_ptr<Run>& run,
                                          const RunTotals& ended) {
    run->lock.release();
    RunTotals totals = ended;
    totals.pictureLosses = run->sorted_losses();
    if (ports_.observer) ports_.observer->run_completed(totals);
    change_state(run, [](RunState) { return std::optional(RunState::Idle); });
}

PackageWriteResult BatchController::write_run_package(Run& run, const std::string& rows,
                                                     const std::string& sourceRows) {
    const PackageWriteResult written = write_package_rows(run, rows);
    if (written != PackageWriteResult::Written) return written;
    // Beside the table, what the supplier gave for its rows. The package is written all the
    // same when this cannot be: it is said, and a later watch says the file is missing.
    const RunSettings& settings = run.settings;
    const std::string path = source_file_path(settings.packageFolder);
    const bool append = settings.append || run.writtenThrough > 0;
    const std::optional<std::string> existing = append ? read_file_bytes(path) : std::nullopt;
    if (!write_file_atomic(path, source_file_bytes(existing, sourceRows))) {
        run.log.append_log(log_time_stamp(*clock_) + " 货源记录无法写入："_gbk + path + "\r\n");
    }
    return written;
}

PackageWriteResult BatchController::write_package_rows(Run& run, const std::string& rows) {
    const RunSettings& settings = run.settings;
    // A part already written is added to like a package the run was told to append to.
    const bool append = settings.append || run.writtenThrough > 0;
    if (!append) {
        return write_package_file(settings.outputFormat, settings.outputPath, rows, run.log, *clock_);
    }
    // Read again: the package may have been changed since START. Gone, it is written anew.
    const std::optional<std::string> existing = read_file_bytes(settings.outputPath);
    if (!existing) {
        return write_package_file(settings.outputFormat, settings.outputPath, rows, run.log, *clock_);
    }
    const std::string why = append_refusal(settings.outputFormat, *existing);
    if (!why.empty()) {
        run.log.append_log(log_time_stamp(*clock_) + " 无法追加到数据包："_gbk +
                           settings.outputPath + "（"_gbk + why + "）\r\n"_gbk);
        return PackageWriteResult::Failed;
    }
    return write_appended_package(settings.outputFormat, settings.outputPath, *existing, rows,
                                  run.log, *clock_);
}

namespace {

// A product list beside the table (`<package>.failed.txt`), written in one step and logged;
// none when there are no rows, and a list left from an earlier run of this package, which
// would name products it now holds, removed. Its path, or empty when none was written.
std::string keep_list_beside(const RunSettings& settings, const std::vector<ProductEntry>& rows,
                             LogSink& log, const Clock& clock, std::string_view unwritable,
                             std::string_view saved, std::string_view where,
                             std::string_view ending) {
    const std::string path = settings.packageFolder + ".failed.txt";
    if (rows.empty()) {
        if (file_exists(path)) std::remove(native_path(path).c_str());
        return {};
    }
    const std::string stamp = log_time_stamp(clock);
    if (!write_list_file(path, rows)) {
        log.append_log(stamp + std::string(unwritable) + path + "\r\n");
        return {};
    }
    log.append_log(stamp + std::string(saved) + std::to_string(rows.size()) + std::string(where) +
                   path + std::string(ending) + "\r\n");
    return path;
}

}  // namespace

std::string BatchController::write_failed_list(Run& run) {
    return keep_list_beside(run.settings, ports_.state->take_failed_products(), run.log, *clock_,
                            " 失败的宝贝列表无法写入："_gbk, " 失败的宝贝 "_gbk, " 个已保存到："_gbk,
                            "，可以重试"_gbk);
}

std::string BatchController::write_continuation_list(Run& run, int& not_done) {
    std::vector<std::pair<int, ProductEntry>> rest = ports_.state->take_numbered_failed_products();
    std::vector<bool> listed(run.outcome.size(), false);
    for (const auto& [n, entry] : rest) {
        if (n >= 1 && static_cast<std::size_t>(n) <= listed.size()) listed[n - 1] = true;
    }
    not_done = 0;
    for (std::size_t i = 0; i < run.outcome.size() && i < run.rows.size(); ++i) {
        const int n = static_cast<int>(i) + 1;
        // A packaged row is finished once it is in the table; a repeat goes with its first.
        const bool finished = run.outcome[i] == kSkipped ||
                              (run.outcome[i] == kPackaged && n <= run.writtenThrough);
        if (finished || listed[i] || run.earlierWithId[i] > 0) continue;
        rest.emplace_back(n, run.rows[i]);
        ++not_done;
    }
    std::sort(rest.begin(), rest.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ProductEntry> entries;
    entries.reserve(rest.size());
    for (auto& [n, entry] : rest) entries.push_back(std::move(entry));
    return keep_list_beside(run.settings, entries, run.log, *clock_, " 待续列表无法写入："_gbk,
                            " 未完成和失败的宝贝 "_gbk, " 个已保存到待续列表："_gbk, "，可以继续"_gbk);
}

void BatchController::toggle_pause() {
    // Read and written in one step, so a completion in between cannot be overwritten.
    change_state(nullptr, [](RunState now) -> std::optional<RunState> {
        if (now == RunState::Idle) return std::nullopt;
        return now == RunState::Running ? RunState::Held : RunState::Running;
    });
}

bool BatchController::cancel_unless_ended(Run& run) {
    {
        std::lock_guard lock(run.commitMutex);
        if (run.completed) return false;
        run.completed = true;
        run.token.cancel();
    }
    run.wake_part_waiters();
    return true;
}

std::shared_ptr<BatchController::Run> BatchController::active_run() const {
    std::lock_guard lock(mutex_);
    return state_ == RunState::Idle ? nullptr : run_;
}

void BatchController::stop_run() {
    const std::shared_ptr<Run> run = active_run();
    if (!run) return;
    const bool stopped = cancel_unless_ended(*run);
    join_previous();
    // The workers have ended: what they finished is all there is, and it is written now.
    if (stopped) {
        run->log.reopen();
        complete_stopped(run);
    }
}

void BatchController::abandon_run() {
    const std::shared_ptr<Run> run = active_run();
    if (!run) return;
    const bool stopped = cancel_unless_ended(*run);
    join_previous();
    run->pictures.drop_unsaved();
    run->lock.release();
    if (stopped) change_state(run, [](RunState) { return std::optional(RunState::Idle); });
}

}  // namespace vq
