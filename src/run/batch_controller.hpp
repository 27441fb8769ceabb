#pragma once
// The copy run: START with its refusals, five workers sharing out the products, pause,
// continue, stop, and the completion by the last worker (package file, totals).
//
// Pause and stop are cooperative: workers wait at safe points (between steps and before
// each request) and never while holding a lock. Stop aborts requests in flight and joins
// the workers before it returns, so nothing of a stopped run touches the state, the list,
// the log or the package afterwards, and START is possible again at once.
//
// Where the package goes, its format, the picture failure policy and the listing rules are
// taken at START (RunSettings): changing them during a run applies to the next run.
//
// After a run with failed products their list rows go to "<package name>.failed.txt" beside
// the table; a run started with StartOptions::append adds its rows to an existing package.

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
    int outputFormat = 5;
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
};

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
};

// What START may be told besides the window's settings.
struct StartOptions {
    // Add the rows to the package already at the table path (which must be a whole package
    // of the same format) instead of replacing it.
    bool append = false;
    // The table path, picture folder and format to use instead of the window's: a retry
    // goes to the package of the run it retries, whatever the window says by then.
    std::optional<RunSettings> target;
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
    void stop_run();      // returns when every worker of the run has ended
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
    void finish_worker(const std::shared_ptr<Run>& run, int worker, int last_product);
    void complete_run(const std::shared_ptr<Run>& run, int worker, int last_product);
    // Ends the run early because the disk refused a picture: nothing is written, and the
    // observer hears the totals with the reason.
    void end_for_trouble(const std::shared_ptr<Run>& run);
    // Hands the totals of a run that wrote no package to the observer and ends the run.
    void end_without_package(const std::shared_ptr<Run>& run, const RunTotals& totals);
    // Ends a run in which no product succeeded: no package, the totals carry why.
    void end_without_products(const std::shared_ptr<Run>& run, const BatchState::Counters& counters,
                              int worker, int last_product);
    // One checked step: under the lock, `next` sees the state and says what it becomes
    // (nothing = no change); with `run` given, only while that run is still the current one.
    // Observers hear the changes in the order they were made.
    bool change_state(const std::shared_ptr<Run>& run,
                      const std::function<std::optional<RunState>(RunState)>& next);
    void join_previous();
    // The table: replaced, or with the run's rows added for an append run.
    PackageWriteResult write_run_package(Run& run, const std::function<bool()>& may_commit);
    // The failed products' list beside the table; its path, or empty when none was written.
    std::string write_failed_list(Run& run);

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
