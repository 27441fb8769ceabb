#include "gui/main_window.hpp"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyleFactory>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/address_bar.hpp"
#include "gui/info_pages.hpp"
#include "gui/list_panel.hpp"
#include "gui/nav_strip.hpp"
#include "gui/pictures.hpp"
#include "gui/qt_text.hpp"
#include "gui/run_panel.hpp"
#include "gui/settings_page.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"
#include "support/process.hpp"

namespace vq::gui {

namespace {

// Trimming the heap every few seconds keeps the resident size close to what a run uses.
constexpr int kTrimIntervalMs = 3000;

int page_index(WindowPage page) {
    return static_cast<int>(page);
}

}  // namespace

void apply_application_look(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font = app.font();
    // Chinese text needs a CJK face; the first one installed wins.
    font.setFamilies({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                      font.family()});
    if (font.pointSizeF() < 9.5) font.setPointSizeF(9.5);
    app.setFont(font);
    app.setWindowIcon(application_icon());
    // Qt's own dialogs and buttons ("Cancel", "Save As") in Chinese, as the rest of the window.
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                         QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

MainWindow::MainWindow(WindowCore& core, WindowServices& services, bool use_tray, QWidget* parent)
    : QMainWindow(parent), core_(core), services_(services) {
    setWindowTitle(QStringLiteral("VelmoraQuillet V" VQ_VERSION));
    setWindowIcon(application_icon());

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    nav_ = new NavStrip(central);
    layout->addWidget(nav_);

    description_ = new QLabel(central);
    description_->setObjectName(QStringLiteral("pageDescription"));
    description_->setMinimumHeight(26);
    description_->setContentsMargins(12, 2, 12, 2);
    description_->setStyleSheet(QStringLiteral(
        "#pageDescription { background: #eef4f8; color: #24506e; border-bottom: 1px solid #c9d9e4; }"));
    layout->addWidget(description_);

    pages_ = new QStackedWidget(central);
    homePage_ = new HomePage(pages_);

    collectPage_ = new QWidget(pages_);
    auto* collect = new QVBoxLayout(collectPage_);
    collect->setContentsMargins(8, 6, 8, 4);
    collect->setSpacing(4);
    addressBar_ = new AddressBar(core_, services_, collectPage_);
    collect->addWidget(addressBar_);
    collectTabs_ = new QTabWidget(collectPage_);
    listPanel_ = new ListPanel(core_, services_, collectTabs_);
    listPanel_->keep_list();
    collectTabs_->addTab(listPanel_, QStringLiteral("宝贝列表"));
    collectTabs_->addTab(new LogPane(core_.log, collectTabs_), QStringLiteral("操作记录"));
    collect->addWidget(collectTabs_, 1);
    runPanel_ = new RunPanel(core_, services_, collectPage_);
    collect->addWidget(runPanel_);
    connect(addressBar_, &AddressBar::listReplaced, runPanel_, &RunPanel::clear_progress);

    settingsPage_ = new SettingsPage(core_, services_, pages_);
    helpPage_ = new HelpPage(services_, pages_);
    // In the order of WindowPage.
    pages_->addWidget(homePage_);
    pages_->addWidget(collectPage_);
    pages_->addWidget(settingsPage_);
    pages_->addWidget(helpPage_);
    layout->addWidget(pages_, 1);
    setCentralWidget(central);

    auto* version = new QLabel(QStringLiteral("版本号：V" VQ_VERSION), this);
    statusBar()->addWidget(version);

    connect(nav_, &NavStrip::itemClicked, this, &MainWindow::switch_page);
    connect(homePage_, &HomePage::itemRequested, this, &MainWindow::switch_page);

    pages_->setCurrentIndex(page_index(WindowPage::Home));
    nav_->set_current(1);
    description_->hide();

    trimTimer_ = new QTimer(this);
    trimTimer_->setInterval(kTrimIntervalMs);
    connect(trimTimer_, &QTimer::timeout, this, [] { trim_working_set(); });
    trimTimer_->start();

    if (use_tray) create_tray();
    resize(1000, 625);
}

MainWindow::~MainWindow() = default;

void MainWindow::create_tray() {
    tray_ = new QSystemTrayIcon(application_icon(), this);
    tray_->setToolTip(QStringLiteral("VelmoraQuillet V" VQ_VERSION));
    auto* menu = new QMenu(this);
    QAction* exit = menu->addAction(QStringLiteral("退出程序"));
    connect(exit, &QAction::triggered, this, [this] { confirm_exit(); });
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        if (why != QSystemTrayIcon::DoubleClick) return;
        showNormal();
        raise();
        activateWindow();
    });
    if (QSystemTrayIcon::isSystemTrayAvailable()) tray_->show();
}

void MainWindow::switch_page(int item) {
    const PageSwitch change = vq::switch_page(item);
    if (change.confirmExit) {
        confirm_exit();
        return;
    }
    if (!change.page) return;
    pages_->setCurrentIndex(page_index(*change.page));
    nav_->set_current(item);
    if (change.description) {
        description_->setText(qt_text(*change.description));
        // An empty strip under the navigation would only look like a gap.
        description_->setVisible(!change.description->empty());
    }
    if (change.addressMode) addressBar_->apply_page_switch(change);
}

WindowPage MainWindow::current_page() const {
    return static_cast<WindowPage>(pages_->currentIndex());
}

bool MainWindow::confirm_exit() {
    QDialog dialog(isVisible() ? this : nullptr);
    dialog.setObjectName(QStringLiteral("confirmExit"));
    dialog.setWindowTitle(QStringLiteral("退出程序？"));
    dialog.setModal(true);
    auto* layout = new QVBoxLayout(&dialog);
    // A run going on is stopped first, keeping its finished work: the user hears how much.
    QString question = QStringLiteral("你是否确定退出程序！");
    if (core_.controller.state() != RunState::Idle) {
        const BatchState::Counters counters = core_.state.counters();
        question = qt_text(stop_question(counters.succeeded,
                                         counters.productCount - counters.succeeded - counters.skipped)) +
                   QStringLiteral("\n") + question;
    }
    auto* text = new QLabel(question, &dialog);
    text->setObjectName(QStringLiteral("confirmExitText"));
    text->setAlignment(Qt::AlignCenter);
    text->setMinimumWidth(240);
    layout->addWidget(text);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("确 定"), &dialog);
    ok->setObjectName(QStringLiteral("confirmExitOk"));
    auto* cancel = new QPushButton(QStringLiteral("取 消"), &dialog);
    cancel->setObjectName(QStringLiteral("confirmExitCancel"));
    cancel->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted) return false;
    end_program();
    return true;
}

void MainWindow::end_program() {
    if (ending_) return;
    ending_ = true;
    // A run in progress stops here, its finished products written; readers and an add stop too.
    addressBar_->stop();
    core_.stop_background_work();
    listPanel_->save_kept_list();
    {
        QSettings kept(layout_path(), QSettings::IniFormat);
        kept.setValue(QStringLiteral("window/geometry"), saveGeometry());
        kept.setValue(QStringLiteral("list/columns"), listPanel_->column_state());
    }
    trimTimer_->stop();
    if (tray_) tray_->hide();
    hide();
    if (exitHook_) {
        exitHook_();
    } else {
        QCoreApplication::exit(0);
    }
}

void MainWindow::apply_startup_sizes() {
    pages_->setMinimumHeight(466);
    resize(width(), 625);
    QSettings kept(layout_path(), QSettings::IniFormat);
    // Qt moves a saved place that no screen shows any more back onto one.
    const QByteArray geometry = kept.value(QStringLiteral("window/geometry")).toByteArray();
    if (!geometry.isEmpty()) restoreGeometry(geometry);
    const QByteArray columns = kept.value(QStringLiteral("list/columns")).toByteArray();
    if (!columns.isEmpty()) listPanel_->restore_columns(columns);
}

QString MainWindow::layout_path() const {
    return qt_text(core_.programFolder) + QStringLiteral("/options/window.ini");
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (ending_) {
        event->accept();
        return;
    }
    event->ignore();
    const bool area = notificationArea_ ? notificationArea_()
                                        : QSystemTrayIcon::isSystemTrayAvailable();
    if (tray_ && area) {
        tray_->show();
        hide();
        return;
    }
    // No notification area to come back from: hiding would strand the program.
    confirm_exit();
}

}  // namespace vq::gui
