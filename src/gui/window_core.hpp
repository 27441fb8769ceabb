#pragma once
// The core objects behind one main window, and the two bridges that carry what worker and
// reader threads report over to the GUI thread. Nothing here blocks a worker on the window.

#include <QObject>
#include <QString>

#include <mutex>
#include <string>
#include <string_view>

#include "run/batch_controller.hpp"
#include "model/batch_model.hpp"
#include "model/product_list.hpp"
#include "source/listing_reader.hpp"
#include "support/clock.hpp"

// Carried over to the GUI thread by queued signals.
Q_DECLARE_METATYPE(vq::RunTotals)

namespace vq::gui {

// The log pane's port. append_log may come from any thread; texts are gathered and handed
// to the GUI thread in batches as `appended` (UTF-16, line ends "\n").
class GuiLog : public QObject, public LogSink {
    Q_OBJECT
public:
    void append_log(std::string_view text) override;
    // Delivers what is pending now (tests and shutdown); GUI thread only.
    void flush();

signals:
    void appended(const QString& text);

private:
    std::mutex mutex_;
    std::string pending_;  // GBK
    bool scheduled_ = false;
};

// The copy run's observer port: every call becomes a signal, which Qt queues over to the
// receivers' (GUI) thread when it comes from a worker.
class GuiRunObserver : public QObject, public RunObserver {
    Q_OBJECT
public:
    void run_state_changed(RunState state) override;
    void run_progress(int done, int total, int succeeded) override;
    void run_completed(const RunTotals& totals) override;

signals:
    void stateChanged(int state);  // a RunState
    void progress(int done, int total, int succeeded);
    void completed(const vq::RunTotals& totals);
};

// Owns the state of the program while the window lives. Create after QApplication.
class WindowCore {
public:
    // program_folder: GBK, without trailing "/"; clock: log time stamps (null = system).
    explicit WindowCore(std::string program_folder, const Clock* clock = nullptr);
    ~WindowCore();  // abandons a run still going and stops the listing readers
    WindowCore(const WindowCore&) = delete;
    WindowCore& operator=(const WindowCore&) = delete;

    // Ends the background work: the copy run, keeping its finished products; the listing
    // readers.
    void stop_background_work();

    std::string options_path() const;  // program folder + "/options/options.ini"
    std::string kept_list_path() const;  // program folder + "/options/list.txt"

    const std::string programFolder;
    const Clock* clock;
    BatchState state;
    ProductList list;
    LiveOptions options;
    SharedText outputPath;  // the output path box, GBK
    // Where the list was last imported from or exported to, for the next dialog (the
    // program folder until then).
    QString listFolder;
    // GBK; what is wrong with the options file's rules as last loaded or saved (empty: all
    // usable). A run never goes without the rules the user set.
    std::string rulesError;
    GuiLog log;
    GuiRunObserver observer;
    ListingReaders readers;
    BatchController controller;
};

// Where the file dialogs open: the list's last folder, and the folder of the package the
// path box names; the program folder when there is none.
QString list_folder(const WindowCore& core);
QString package_dialog_folder(const WindowCore& core);

}  // namespace vq::gui
