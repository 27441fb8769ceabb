#include "gui/startup.hpp"

#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "api/site_settings.hpp"
#include "app/startup.hpp"
#include "gui/main_window.hpp"
#include "gui/pictures.hpp"
#include "gui/qt_text.hpp"
#include "gui/run_panel.hpp"
#include "gui/settings_page.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"
#include "support/process.hpp"

namespace vq::gui {

StartWindow::StartWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("startWindow"));
    setWindowTitle(QStringLiteral("VelmoraQuillet V" VQ_VERSION));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 12);
    auto* picture = new QLabel(this);
    picture->setPixmap(banner_picture(QSize(440, 150)));
    layout->addWidget(picture);
    status_ = new QLabel(this);
    status_->setContentsMargins(16, 6, 16, 0);
    layout->addWidget(status_);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);
    progress_->setFixedHeight(12);
    progress_->setContentsMargins(16, 0, 16, 0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(16, 0, 16, 0);
    bar->addWidget(progress_);
    layout->addLayout(bar);
    setFixedSize(440, 220);
}

void StartWindow::set_status(const QString& text) {
    status_->setText(text);
}

void StartWindow::set_progress(int value) {
    progress_->setValue(value);
}

StartupSequence::StartupSequence(WindowCore& core, MainWindow& window, WindowServices& services,
                                 QObject* parent)
    : QObject(parent), core_(core), window_(window), services_(services) {}

StartupSequence::~StartupSequence() {
    if (fetch_.joinable()) fetch_.join();
    delete startWindow_;
}

void StartupSequence::start() {
    startWindow_ = new StartWindow;
    startWindow_->show();
    startWindow_->set_status(QStringLiteral("正在连接服务器--"));
    QCoreApplication::processEvents();

    startWindow_->set_status(QStringLiteral("正在加载预定信息--"));
    startWindow_->set_progress(65);
    // The fetch may take up to its time-out: off the GUI thread, so the start window
    // keeps painting.
    const SiteSettings site = site_settings();
    fetch_ = std::thread([this, site] {
        const int pairs = load_remote_configuration(core_.state, site.config_server, site.site_ini);
        QMetaObject::invokeMethod(this, [this, pairs] { configuration_loaded(pairs); },
                                  Qt::QueuedConnection);
    });
}

void StartupSequence::configuration_loaded(int pairs) {
    if (fetch_.joinable()) fetch_.join();
    if (pairs == 0) {
        const QString text = QStringLiteral("预定信息 加载失败，请重新启动--");
        startWindow_->set_status(text);
        const SiteSettings site = site_settings();
        services_.message(startWindow_, QStringLiteral("提示"),
                          text + QLatin1Char('\n') +
                              qt_text(configuration_source_note(site.config_server, site.site_ini)));
        emit finished(false);
        return;
    }
    window_.run_panel()->apply_output_path(
        qt_text(default_output_path(core_.programFolder, *core_.clock)));
    window_.apply_startup_sizes();
    startWindow_->set_progress(85);
    window_.settings_page()->load_options();
    startWindow_->set_progress(100);
    QTimer::singleShot(300, this, &StartupSequence::finish);
}

void StartupSequence::finish() {
    startWindow_->close();
    window_.show();
    // The window's thread and every thread it starts later share the first processor.
    if (pin_) pin_process_to_first_processor();
    emit finished(true);
}

}  // namespace vq::gui
