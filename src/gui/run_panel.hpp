#pragma once
// The run controls of the "采集" page: "生成数据包", "暂停"/"继续", "停止", the output path
// box with "保存路径：" and "更改", and a progress bar for the run; the log pane of the
// "操作记录" tab; the completion window "复制完成！".

#include <QPlainTextEdit>
#include <QWidget>

#include "run/batch_controller.hpp"
#include "run/supplier_watch.hpp"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace vq::gui {

class ChangesWindow;
class GuiLog;
class SupplierWatchJob;
class WindowCore;
class WindowServices;

// "复制完成！" ("复制已停止！" after a stop): not modal, centred on the window it belongs to.
class CompletionWindow : public QWidget {
    Q_OBJECT
public:
    explicit CompletionWindow(QWidget* parent = nullptr);
    // Fills the labels and shows the window centred on the window it belongs to. When the
    // package file was not written a line says so, so a full disk never passes for a
    // finished package; failed pictures and a check with problems show in red.
    void show_totals(const RunTotals& totals);

    QLabel* total_label() const { return total_; }        // "下载总数： " + count
    QLabel* succeeded_label() const { return succeeded_; }  // "成功下载： " + succeeded
    QLabel* failed_label() const { return failed_; }        // "下载失败： " + failed
    QLabel* pictures_label() const { return pictures_; }    // "图片失败：" + failed pictures
    QLabel* skipped_label() const { return skipped_; }      // "重复跳过：" + repeats, shown when any
    QLabel* not_done_label() const { return notDone_; }     // "未完成：" + count, after a stop
    QLabel* check_label() const { return check_; }          // the package check's summary
    QLabel* unwritten_label() const { return unwritten_; }  // shown when nothing was written
    // The failed products' list file, with "重试失败的宝贝" ("继续未完成的宝贝" after a stop);
    // hidden when none was written.
    QLabel* failed_list_label() const { return failedList_; }
    // Shown when the list of the rest should have been written and could not.
    QLabel* unsaved_label() const { return unsaved_; }
    QPushButton* retry_button() const { return retry_; }
    // The products that lost pictures, then the check's problems and warnings; hidden when
    // there are none.
    QPlainTextEdit* details() const { return details_; }

    QPushButton* close_button() const { return close_; }

signals:
    void retryRequested();

private:
    QLabel* total_ = nullptr;
    QLabel* succeeded_ = nullptr;
    QLabel* failed_ = nullptr;
    QLabel* pictures_ = nullptr;
    QLabel* skipped_ = nullptr;
    QLabel* notDone_ = nullptr;
    QLabel* heading_ = nullptr;
    QPlainTextEdit* details_ = nullptr;
    QLabel* check_ = nullptr;
    QLabel* unwritten_ = nullptr;
    QLabel* failedList_ = nullptr;
    QLabel* unsaved_ = nullptr;  // the rest's list could not be written
    QPushButton* retry_ = nullptr;
    QPushButton* close_ = nullptr;
};

// Append only; follows the end; never read back by the program.
class LogPane : public QPlainTextEdit {
    Q_OBJECT
public:
    LogPane(GuiLog& log, QWidget* parent = nullptr);
};

class RunPanel : public QWidget {
    Q_OBJECT
public:
    RunPanel(WindowCore& core, WindowServices& services, QWidget* parent = nullptr);

    void start_run();           // "生成数据包"; a list over 1000 runs in parts when the user agrees
    void toggle_pause();        // "暂停" / "继续"
    void stop_run();            // "停止": after the user agrees, a stop that keeps the finished work
    void choose_output_path();  // "更改"
    // A chosen path into the box, the ".csv" rule, the package folder and name; on an
    // empty name "请检查文件名是否正确！" and an emptied box. Start-up passes its default.
    bool apply_output_path(const QString& chosen);
    // "重试失败的宝贝": after a confirmation, the last run's failed products replace the list
    // and a run adds them to that run's package.
    void retry_failed();
    // A new list: the bar of the last run no longer says anything about it (not during a run).
    void clear_progress();
    // "检查货源变化": fetches the offers of the package in the path box again, with the bar,
    // 暂停 and 停止 of a run, then shows what the supplier changed.
    void start_watch();
    // "更新数据包" of the changes window, after the user agrees; "导出": the changes file
    // where the user chooses.
    void update_from_watch();
    void export_changes();

    QPushButton* start_button() const { return start_; }
    QPushButton* pause_button() const { return pause_; }
    QPushButton* stop_button() const { return stop_; }
    QPushButton* change_button() const { return change_; }
    QPushButton* watch_button() const { return watch_; }
    // Null until a watch has ended once.
    ChangesWindow* changes_window() const { return changes_; }
    QLineEdit* output_path_box() const { return path_; }
    // Shown while a run goes on after the path was changed: the run keeps its own path.
    QLabel* next_run_note() const { return nextRunNote_; }
    QProgressBar* progress_bar() const { return progress_; }
    // Null until a run has completed once.
    CompletionWindow* completion_window() const { return completion_; }

signals:
    void completionShown();
    void changesShown();

private:
    // Buttons and caption from the controller's state as it is now.
    void update_buttons();
    // "已完成 done/total  成功 s  失败 f"
    void show_progress(int done, int total, int succeeded);
    void show_completion(const RunTotals& totals);
    void move_past_default_path(const RunTotals& totals);
    // START with the options given; asks first whether a list over 1000 runs in parts
    // (false, nothing started, when the user declines).
    void start_with(StartOptions options);

    WindowCore& core_;
    WindowServices& services_;
    QPushButton* start_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* change_ = nullptr;
    QPushButton* watch_ = nullptr;
    SupplierWatchJob* watchJob_ = nullptr;
    ChangesWindow* changes_ = nullptr;
    // The package the last watch looked at (GBK), and what it found.
    std::string watchedTable_, watchedFolder_;
    bool watchedFromPackage_ = false;  // it has no source file
    std::vector<SourceEntry> watchedEntries_;
    WatchReport watchReport_;
    void end_watch();
    QLineEdit* path_ = nullptr;
    QLabel* nextRunNote_ = nullptr;
    QProgressBar* progress_ = nullptr;
    CompletionWindow* completion_ = nullptr;
    RunTotals lastTotals_;
};

}  // namespace vq::gui
