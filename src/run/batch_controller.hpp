#pragma once
// The copy run: START with its refusals, five workers sharing out the products, pause,
// continue, stop, and the completion by the last worker (package file, totals).
//
// Pause and stop are cooperative: workers wait at safe points (between steps and before
// each request) and never while holding a lock. Stop aborts requests in flight and joins
// the workers; the products finished by then still go into the package and the others into
// the run's continuation list, so a stop never throws work away. A package being written
// when the stop comes is written whole first.
//
// Where the package goes, its format, the picture failure policy and the listing rules are
// taken at START (RunSettings): changing them during a run applies to the next run.
//
// After a run with failed products their list rows go to "<package name>.failed.txt" beside
// the table; a run started with StartOptions::append adds its rows to an existing package.
// A list longer than one run may hold runs in parts (StartOptions::inParts): each part is
// added to the package as soon as it is done, and the next part begins.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model/batch_model.hpp"
#include "model/product_list.hpp"
#include "output/package_writer.hpp"

namespace vq {

enum class RunState { Idle, Running, Held };

struct RunTotals {
    int productCount = 0;
    int succeeded = 0;
    int failed = 0;
    int failedPictures = 0;  // pictures of the packaged products not fetched or not saved
    // Rows left out because an earlier row of the list has the same offer id (one product
    // is packaged once); not counted as failed.
    int skipped = 0;
    bool packageWritten = false;
    std::string packagePath;  // GBK, the output path the package was written to
    std::string packageFolder;  // GBK, its picture folder
    PackageFormat outputFormat = kDefaultFormat;
    // GBK; the list file of the failed products beside the table, written after a run with
    // failures (empty otherwise). Retrying it with StartOptions::append completes the package.
    std::string failedListPath;
    // The check of the written package: its summary line (GBK) and whether it found
    // nothing wrong. Empty and false when no package was written.
    std::string checkSummary;
    bool checkClean = false;
    // GBK; why no package was written although the run was not stopped: the disk refused a
    // picture (the run ended there), or not one product succeeded (an empty package would
    // pass for a finished one). Empty otherwise.
    std::string stopReason;
    // Stopped by the user: the finished products are in the package (packageWritten), the
    // rest, notDone of them never finished, are in the list at failedListPath.
    bool stopped = false;
    int notDone = 0;
    // This run's rows in the table on disk; a run in parts may have written some parts
    // although its end could not write the last one.
    int rowsWritten = 0;
    int parts = 1;  // parts the run was planned in
    // GBK, for the completion window: the packaged products that lost pictures, in list
    // order ("第 n 个宝贝 ID：title，图片失败 k 张"), and the check's problems and warnings as
    // logged (at most kMostCheckLines).
    std::vector<std::string> pictureLosses;
    std::vector<std::string> checkProblems;
    std::vector<std::string> checkWarnings;
};

// GBK; when the products left to do (failed, or not done after a stop) should have gone to
// a list beside the table and could not, what says so: "其余 N 个宝贝的列表无法写入，请查看操作记录！";
// empty otherwise.
std::string unsaved_rest_note(const RunTotals& totals);

// The question before a stop (GBK): "已完成 N 个宝贝。停止后这些宝贝写入数据包，其余 M 个存入待续列表。"
std::string stop_question(int finished, int rest);

// What a front end hears of a run. Calls come from worker threads (and from the thread
// calling the controller); a window hands them over to its own thread and never waits
// for a worker from them.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void run_state_changed(RunState) {}
    // After each product: products done, of total, rows made so far.
    virtual void run_progress(int /*done*/, int /*total*/, int /*succeeded*/) {}
    virtual void run_completed(const RunTotals&) {}
};

struct RunPorts {
    ProductList* list = nullptr;
    BatchState* state = nullptr;
    LiveOptions* options = nullptr;
    SharedText* outputPath = nullptr;  // the output path box (GBK)
    LogSink* log = nullptr;
    RunObserver* observer = nullptr;   // may be null
    const Clock* clock = nullptr;      // null = the system clock
    // Each product's pictures fetched ahead side by side, and pictures saved once per run
    // reused; off, one picture at a time from the network (for comparison).
    bool picturesAhead = true;
    int workers = kWorkerCount;  // threads of a run, 1 or more
    // GBK path of the user's token for today's product methods (options/token.ini); empty:
    // none is kept.
    std::string tokenPath;
    // Stamps of main picture names; null = the process's one sequence. A test gives each run
    // a fresh one (with a fixed clock and one worker, two runs then name pictures alike).
    MillisSequence* millis = nullptr;
};

// What START may be told besides the window's settings.
struct StartOptions {
    // Add the rows to the package already at the table path (which must be a whole package
    // of the same format) instead of replacing it.
    bool append = false;
    // The table path, picture folder and format to use instead of the window's: a retry
    // goes to the package of the run it retries, whatever the window says by then.
    std::optional<RunSettings> target;
    // A list longer than kMostProducts runs in parts of partSize products (0 = kMostProducts)
    // into the one package instead of being refused.
    bool inParts = false;
    int partSize = 0;
};

struct StartResult {
    bool started = false;
    std::string message;  // GBK; non-empty for a refusal the user must see (title "提示")
};

class BatchController {
public:
    explicit BatchController(RunPorts ports);
    ~BatchController();  // stops a run still going
    BatchController(const BatchController&) = delete;
    BatchController& operator=(const BatchController&) = delete;

    StartResult start_run(const StartOptions& options = {});
    void toggle_pause();  // Running <-> Held; nothing when idle
    // Ends the run and keeps its work: returns when every worker has ended and the finished
    // products are written (the observer has heard the totals, stopped set). A run already
    // writing its end is left to finish it.
    void stop_run();
    // Ends the run and writes nothing more; the observer hears no totals.
    void abandon_run();
    // state() may read the new state before observers have heard it: they hear every
    // change, in order, just after. It never waits for a notification, since a window calls
    // it from inside one.
    RunState state() const;
    // The current run's workers that wait at their hold (none when idle).
    int held_workers() const;

    // Starts a worker thread; tests replace it to simulate a thread that cannot start
    // (by throwing).
    using ThreadLauncher = std::function<std::thread(std::function<void()>)>;
    void set_thread_launcher(ThreadLauncher launcher);

    static constexpr int kWorkers = kWorkerCount;
    static constexpr int kMostProducts = 1000;
    // Problems and then warnings of the package check written to the log, at most; the
    // summaries count all.
    static constexpr int kMostCheckLines = 100;

private:
    struct Run;
    void run_worker(const std::shared_ptr<Run>& run, int worker);
    // After the last worker of a part: true when the next part has begun (the caller goes
    // on with it), false when the run ended or was stopped.
    bool finish_part(const std::shared_ptr<Run>& run, int worker, int last_product);
    // A worker that could not start, counted out; completes the part when it was the last.
    void count_out_worker(const std::shared_ptr<Run>& run, int worker);
    // Ends the run because its source can fetch nothing more (the token is gone): the
    // workers stop, and the last of them keeps the finished work as a stop does.
    void halt(Run& run, const std::string& reason);
    // A worker has ended; the last one completes a halted run.
    void leave_worker(const std::shared_ptr<Run>& run);
    void complete_run(const std::shared_ptr<Run>& run, int worker, int last_product);
    // The end of a stopped run, after its workers: the package with the finished products,
    // the continuation list, the totals. With a reason the run was ended by a package that
    // could not be written, not by the user.
    void complete_stopped(const std::shared_ptr<Run>& run, const std::string& reason = {});
    // The package's check written to the log, into the totals.
    void check_written_package(Run& run, RunTotals& totals);
    // Cancels the run unless its end was taken already; true when this call cancelled it.
    bool cancel_unless_ended(Run& run);
    // The run going on now; null when idle.
    std::shared_ptr<Run> active_run() const;
    // Ends the run early because the disk refused a picture: nothing is written, and the
    // observer hears the totals with the reason.
    void end_for_trouble(const std::shared_ptr<Run>& run);
    // Hands the totals to the observer and ends the run.
    void end_with_totals(const std::shared_ptr<Run>& run, const RunTotals& totals);
    // Ends a run in which no product succeeded: no package, the totals carry why.
    void end_without_products(const std::shared_ptr<Run>& run, const BatchState::Counters& counters,
                              int worker, int last_product);
    // One checked step: under the lock, `next` sees the state and says what it becomes
    // (nothing = no change); with `run` given, only while that run is still the current one.
    // Observers hear the changes in the order they were made.
    bool change_state(const std::shared_ptr<Run>& run,
                      const std::function<std::optional<RunState>(RunState)>& next);
    void join_previous();
    // The rows into the table, and their source lines into the source file beside it.
    PackageWriteResult write_run_package(Run& run, const std::string& rows,
                                         const std::string& sourceRows);
    // The table: replaced by the rows, or with them added when the run appends or a part
    // of it is already there.
    PackageWriteResult write_package_rows(Run& run, const std::string& rows);
    // The failed products' list beside the table; its path, or empty when none was written.
    std::string write_failed_list(Run& run);
    // A stopped run's list: the failed products and those not finished, in list order.
    std::string write_continuation_list(Run& run, int& not_done);

    RunPorts ports_;
    const Clock* clock_;
    ThreadLauncher launcher_;
    std::mutex startMutex_;     // one START at a time
    std::mutex notifyMutex_;    // keeps state changes and their notifications in one order
    mutable std::mutex mutex_;  // guards state_, run_
    RunState state_ = RunState::Idle;
    std::shared_ptr<Run> run_;
};

}  // namespace vq
