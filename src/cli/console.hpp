#pragma once
// The terminal side of the command line: log lines to stdout as UTF-8 (and the raw GBK
// lines to an optional log file), and a progress bar on stderr when it is a terminal.

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "run/batch_controller.hpp"

namespace vq::cli {

class Console final : public LogSink, public RunObserver {
public:
    // out/err are where lines and the progress bar go; log_file may be null.
    Console(std::FILE* out, std::FILE* err, std::FILE* log_file, bool show_progress);

    void append_log(std::string_view text) override;
    void run_progress(int done, int total, int succeeded) override;
    void run_completed(const RunTotals& totals) override;

    // Blocks until the run completed (true, totals filled) or interrupted() turns true
    // (false); looks at interrupted() every 100 ms.
    bool wait_for_completion(const std::function<bool()>& interrupted, RunTotals& totals);

    void clear_progress();

private:
    void draw_progress_locked();
    void erase_progress_locked();

    std::mutex mutex_;
    std::condition_variable completion_;
    std::FILE* out_;
    std::FILE* err_;
    std::FILE* logFile_;
    bool showProgress_;
    bool progressShown_ = false;
    int done_ = 0, total_ = 0, succeeded_ = 0;
    bool completed_ = false;
    RunTotals totals_;
};

// UTF-8 for the terminal: line breaks as "\n".
std::string terminal_text(std::string_view gbk);

}  // namespace vq::cli
