#include "gui/window_core.hpp"

#include <QFileInfo>
#include <QMetaObject>

#include "api/api_token.hpp"
#include "app/options.hpp"
#include "gui/qt_text.hpp"

namespace vq::gui {

void GuiLog::append_log(std::string_view text) {
    bool schedule = false;
    {
        std::lock_guard lock(mutex_);
        pending_.append(text);
        schedule = !scheduled_;
        scheduled_ = true;
    }
    // One queued flush per batch: a busy window never holds a worker up.
    if (schedule) QMetaObject::invokeMethod(this, &GuiLog::flush, Qt::QueuedConnection);
}

void GuiLog::flush() {
    std::string text;
    {
        std::lock_guard lock(mutex_);
        text.swap(pending_);
        scheduled_ = false;
    }
    if (text.empty()) return;
    QString shown = qt_text(text);
    shown.remove(QLatin1Char('\r'));
    emit appended(shown);
}

void GuiRunObserver::run_state_changed(RunState state) {
    emit stateChanged(static_cast<int>(state));
}

void GuiRunObserver::run_progress(int done, int total, int succeeded) {
    emit progress(done, total, succeeded);
}

void GuiRunObserver::run_completed(const RunTotals& totals) {
    emit completed(totals);
}

namespace {

RunPorts run_ports(WindowCore& core) {
    RunPorts ports;
    ports.list = &core.list;
    ports.state = &core.state;
    ports.options = &core.options;
    ports.outputPath = &core.outputPath;
    ports.log = &core.log;
    ports.observer = &core.observer;
    ports.clock = core.clock;
    ports.tokenPath = api_token_path(core.programFolder);
    return ports;
}

ListingPorts listing_ports(WindowCore& core) {
    ListingPorts ports;
    ports.list = &core.list;
    ports.log = &core.log;
    ports.clock = core.clock;
    ports.programFolder = core.programFolder;
    return ports;
}

}  // namespace

WindowCore::WindowCore(std::string program_folder, const Clock* clock_)
    : programFolder(std::move(program_folder)),
      clock(clock_ ? clock_ : &system_clock()),
      readers(listing_ports(*this)),
      controller(run_ports(*this)) {}

WindowCore::~WindowCore() {
    // The window is gone: nothing is written any more (the exit stopped a run already).
    controller.abandon_run();
    readers.stop();
}

void WindowCore::stop_background_work() {
    controller.stop_run();
    readers.stop();
}

std::string WindowCore::options_path() const {
    return options_file_path(programFolder);
}

std::string WindowCore::kept_list_path() const {
    return programFolder + "/options/list.txt";
}

QString list_folder(const WindowCore& core) {
    return core.listFolder.isEmpty() ? qt_text(core.programFolder) : core.listFolder;
}

QString package_dialog_folder(const WindowCore& core) {
    const std::string path = core.outputPath.get();
    return path.empty() ? qt_text(core.programFolder) : QFileInfo(qt_text(path)).absolutePath();
}

}  // namespace vq::gui
