#include "cli/console.hpp"

#include <chrono>

#include "support/encoding.hpp"
#include "support/text.hpp"

namespace vq::cli {

std::string terminal_text(std::string_view gbk) {
    return replace_all(gbk_to_utf8(gbk), "\r\n", "\n");
}

Console::Console(std::FILE* out, std::FILE* err, std::FILE* log_file, bool show_progress)
    : out_(out), err_(err), logFile_(log_file), showProgress_(show_progress) {}

void Console::erase_progress_locked() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", err_);
    progressShown_ = false;
}

void Console::draw_progress_locked() {
    if (!showProgress_ || total_ <= 0) return;
    constexpr int kWidth = 30;
    const int filled = done_ * kWidth / total_;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '-');
    std::fprintf(err_, "\r\033[K[%s] %d/%d  成功 %d  失败 %d", bar.c_str(), done_, total_,
                 succeeded_, done_ - succeeded_);
    std::fflush(err_);
    progressShown_ = true;
}

void Console::clear_progress() {
    std::lock_guard lock(mutex_);
    erase_progress_locked();
    std::fflush(err_);
}

void Console::append_log(std::string_view text) {
    const std::string shown = terminal_text(text);
    std::lock_guard lock(mutex_);
    erase_progress_locked();
    std::fwrite(shown.data(), 1, shown.size(), out_);
    std::fflush(out_);
    if (logFile_) {
        std::fwrite(text.data(), 1, text.size(), logFile_);
        std::fflush(logFile_);
    }
    draw_progress_locked();
}

void Console::run_progress(int done, int total, int succeeded) {
    std::lock_guard lock(mutex_);
    // Reports of different workers may arrive out of order; keep the furthest.
    if (done < done_) return;
    done_ = done;
    total_ = total;
    succeeded_ = succeeded;
    draw_progress_locked();
}

void Console::run_completed(const RunTotals& totals) {
    {
        std::lock_guard lock(mutex_);
        completed_ = true;
        totals_ = totals;
        erase_progress_locked();
    }
    completion_.notify_all();
}

bool Console::wait_for_completion(const std::function<bool()>& interrupted, RunTotals& totals) {
    std::unique_lock lock(mutex_);
    while (!completed_) {
        if (interrupted && interrupted()) return false;
        completion_.wait_for(lock, std::chrono::milliseconds(100));
    }
    totals = totals_;
    return true;
}

}  // namespace vq::cli
