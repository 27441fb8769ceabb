#include "gui/run_panel.hpp"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "gui/window_core.hpp"

namespace vq::gui {

CompletionWindow::CompletionWindow(QWidget* parent) : QWidget(parent) {}
void CompletionWindow::show_totals(int, int, int) {}

LogPane::LogPane(GuiLog& log, QWidget* parent) : QPlainTextEdit(parent) {
    (void)log;
}

RunPanel::RunPanel(WindowCore& core, WindowServices& services, QWidget* parent)
    : QWidget(parent), core_(core), services_(services) {}

void RunPanel::start_run() {}
void RunPanel::toggle_pause() {}
void RunPanel::stop_run() {}
void RunPanel::choose_output_path() {}
bool RunPanel::apply_output_path(const QString&) { return false; }

}  // namespace vq::gui
