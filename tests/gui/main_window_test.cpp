// The main window: navigation, closing to the notification area, the exit confirmation,
// and start-up against the stand-in marketplace.

#include <QtTest>

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeView>
#include <QHeaderView>

#include "gui/address_bar.hpp"
#include "gui/list_panel.hpp"
#include "gui/main_window.hpp"
#include "gui/nav_strip.hpp"
#include "gui/run_panel.hpp"
#include "gui/settings_page.hpp"
#include "gui/startup.hpp"
#include "gui/window_core.hpp"
#include "gui_fixture.hpp"
#include "model/list_file.hpp"
#include "output/package_check.hpp"

using vq::WindowPage;
using vq::gui::MainWindow;
using vq::gui::WindowCore;

namespace {

QString mode_of(WindowCore& core) {
    return vq::gui::qt_text(vq::address_mode_text(core.state.addressMode.load()));
}

// Answers the next modal dialog: checks it is the exit confirmation, then presses a button.
struct ExitAnswer {
    QString title, text;
    bool seen = false;
    void press_later(const char* button) {
        QTimer::singleShot(0, [this, button] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal->objectName() != QLatin1String("confirmExit")) return;
            seen = true;
            title = modal->windowTitle();
            text = modal->findChild<QLabel*>(QStringLiteral("confirmExitText"))->text();
            modal->findChild<QPushButton*>(QLatin1String(button))->click();
        });
    }
};

// A main window on a fresh program folder; "确 定" is counted instead of ending the test.
struct Window {
    explicit Window(bool tray = false) : core(home.gbk()), window(core, services, tray) {
        window.set_exit_hook([this] { ++exits; });
    }
    void show() {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    guitest::TempHome home;
    guitest::RecordingServices services;
    WindowCore core;
    MainWindow window;
    int exits = 0;
};

// Start-up of a main window on a program folder served by the stand-in.
struct Startup {
    explicit Startup(const guitest::SimHome& home)
        : core(home.gbk()),
          window(core, services, false),
          startup(core, window, services),
          finished(&startup, &vq::gui::StartupSequence::finished) {
        startup.set_pin_processor(false);
    }
    guitest::RecordingServices services;
    WindowCore core;
    MainWindow window;
    vq::gui::StartupSequence startup;
    QSignalSpy finished;
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void window_caption_and_first_state() {
        Window w;
        MainWindow& window = w.window;
        // The version is the project's, wherever the window shows it.
        QCOMPARE(window.windowTitle(), QStringLiteral("VelmoraQuillet V" VQ_VERSION));
        QCOMPARE(window.current_page(), WindowPage::Home);
        QCOMPARE(window.address_bar()->address_label()->text(), QStringLiteral("商品地址："));
        QCOMPARE(window.address_bar()->address_box()->text(), QStringLiteral("请输入宝贝地址"));
        QVERIFY(mode_of(w.core).isEmpty());
        QVERIFY(window.findChild<QLabel*>() != nullptr);
        bool version = false;
        for (QLabel* label : window.findChildren<QLabel*>()) {
            version = version || label->text() == QStringLiteral("版本号：V" VQ_VERSION);
        }
        QVERIFY(version);
        auto* help = window.findChild<QTextBrowser*>(QStringLiteral("helpBrowser"));
        QVERIFY(help);
        QVERIFY(help->toPlainText().contains(
            QStringLiteral("VelmoraQuillet V" VQ_VERSION " 使用说明")));
    }

    void switch_page_table_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("label");  // after the item; "商品地址：" = unchanged
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("box");
        const QString none = QStringLiteral("商品地址：");
        QTest::newRow("1 home") << 1 << int(WindowPage::Home) << QString() << none << QString()
                                << QStringLiteral("请输入宝贝地址");
        QTest::newRow("2 single") << 2 << int(WindowPage::Collect)
                                  << QStringLiteral("【单个模式】 就是指定采集一个点宝贝 输入该宝贝地址即可进行采集 可以添加多个")
                                  << QStringLiteral("宝贝地址：") << QStringLiteral("单品")
                                  << QStringLiteral("请输入宝贝地址");
        QTest::newRow("3 list") << 3 << int(WindowPage::Collect)
                                << QStringLiteral("【列表模式】 就是仅仅采集某个店铺的一个分类 输入分类的网页地址即可进行采集")
                                << QStringLiteral("列表地址：") << QStringLiteral("列表")
                                << QStringLiteral("请输入列表地址");
        QTest::newRow("4 shop") << 4 << int(WindowPage::Collect)
                                << QStringLiteral("【店铺模式】 就是采集整个店铺的所有宝贝 只需输入店铺的首页地址即可进行采集")
                                << QStringLiteral("店铺地址：") << QStringLiteral("店铺")
                                << QStringLiteral("请输入店铺地址");
        QTest::newRow("5 settings") << 5 << int(WindowPage::Settings)
                                    << QStringLiteral("可以对采集的一些信息进行设置") << none
                                    << QString() << QStringLiteral("请输入宝贝地址");
        QTest::newRow("6 help") << 6 << int(WindowPage::Help) << QString() << none << QString()
                                << QStringLiteral("请输入宝贝地址");
    }

    // Each item from a fresh window, clicked on the strip as the user would.
    void switch_page_table() {
        QFETCH(int, item);
        QFETCH(int, page);
        QFETCH(QString, description);
        QFETCH(QString, label);
        QFETCH(QString, mode);
        QFETCH(QString, box);
        Window w;
        MainWindow& window = w.window;
        w.show();
        window.switch_page(5);  // a page with a description first, so "empty" shows
        auto* nav = window.navigation();
        QTest::mouseClick(nav, Qt::LeftButton, {}, nav->item_rect(item).center());
        QCOMPARE(int(window.current_page()), page);
        QCOMPARE(nav->current(), item);
        QCOMPARE(window.description_label()->text(), description);
        QCOMPARE(window.description_label()->isVisible(), !description.isEmpty());
        QCOMPARE(window.address_bar()->address_label()->text(), label);
        QCOMPARE(mode_of(w.core), mode);
        QCOMPARE(window.address_bar()->address_box()->text(), box);
    }

    // Item 7 leaves page, description and mode as they are and asks before exiting.
    void exit_item_asks_and_changes_nothing_else() {
        Window w;
        MainWindow& window = w.window;
        window.switch_page(3);
        const QString description = window.description_label()->text();
        ExitAnswer answer;
        answer.press_later("confirmExitCancel");
        window.switch_page(7);
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, QStringLiteral("退出程序？"));
        QCOMPARE(answer.text, QStringLiteral("你是否确定退出程序！"));
        QCOMPARE(w.exits, 0);
        QCOMPARE(window.current_page(), WindowPage::Collect);
        QCOMPARE(window.description_label()->text(), description);
        QCOMPARE(mode_of(w.core), QStringLiteral("列表"));

        answer.press_later("confirmExitOk");
        QVERIFY(window.confirm_exit());
        QCOMPARE(w.exits, 1);
        QVERIFY(!window.isVisible());
    }

    // 退出 during a run says what becomes of the work; "确 定" stops the run first, with the
    // finished products in the package and the rest in the continuation list.
    void exit_during_a_run_asks_and_keeps_the_finished_work() {
        guitest::SimHome home;
        QVERIFY(home.start());
        guitest::RecordingServices services;
        WindowCore core(home.gbk());
        MainWindow window(core, services, false);
        int exits = 0;
        window.set_exit_hook([&] { ++exits; });
        core.state.set_credentials(home.key_pairs());
        const auto& products = home.sim.catalogue().products();
        for (int i = 0; i < 12; ++i) {
            const auto& product = products[static_cast<std::size_t>(i)];
            core.list.append_row({"t", product.price, "a", product.offerId});
        }
        // Product 5 waits at the stand-in while the others finish.
        home.sim.hold_requests("gateway", products[4].offerId);
        const QString package = home.file(QStringLiteral("pkg.csv"));
        QVERIFY(window.run_panel()->apply_output_path(package));
        window.run_panel()->start_run();
        QCOMPARE(core.controller.state(), vq::RunState::Running);
        QTRY_COMPARE_WITH_TIMEOUT(core.state.counters().succeeded, 11, 60000);

        ExitAnswer answer;
        answer.press_later("confirmExitOk");
        QVERIFY(window.confirm_exit());
        QVERIFY(answer.seen);
        QCOMPARE(answer.text, QStringLiteral("已完成 11 个宝贝。停止后这些宝贝写入数据包，其余 1 个存入待续列表。\n"
                                             "你是否确定退出程序！"));
        QCOMPARE(exits, 1);
        QCOMPARE(core.controller.state(), vq::RunState::Idle);
        home.sim.release_requests();
        QCOMPARE(vq::check_package(vq::gui::gbk_text(package), vq::gui::gbk_text(home.file(QStringLiteral("pkg")))).rows, 11);
        const auto rest = vq::read_list_file(vq::gui::gbk_text(home.file(QStringLiteral("pkg.failed.txt"))));
        QVERIFY(rest);
        QCOMPARE(rest->size(), std::size_t{1});
        QCOMPARE(rest->front().offerId, products[4].offerId);
    }

    // The address reads whole at the start-up size; the window's size, place and the list's
    // columns come back as the user left them.
    void the_window_and_its_columns_come_back_as_left() {
        guitest::TempHome home;
        guitest::RecordingServices services;
        const QString address = QStringLiteral("http://detail.1688.com/offer/551978763716.html");
        {
            WindowCore core(home.gbk());
            MainWindow window(core, services, false);
            window.set_exit_hook([] {});
            window.apply_startup_sizes();
            window.switch_page(3);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QTreeView* view = window.list_panel()->view();
            QTRY_VERIFY(view->header()->sectionSize(vq::kAddressColumn) >=
                        view->fontMetrics().horizontalAdvance(address));
            window.setGeometry(60, 80, 1100, 700);
            view->setColumnWidth(vq::kTitleColumn, 320);
            window.end_program();
        }
        WindowCore core(home.gbk());
        MainWindow window(core, services, false);
        window.apply_startup_sizes();
        QCOMPARE(window.size(), QSize(1100, 700));
        QCOMPARE(window.list_panel()->view()->columnWidth(vq::kTitleColumn), 320);
        QCOMPARE(window.list_panel()->view()->header()->sectionResizeMode(vq::kAddressColumn),
                 QHeaderView::Stretch);
    }

    void confirm_buttons_read_as_in_the_dialog() {
        Window w;
        MainWindow& window = w.window;
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            QVERIFY(modal);
            for (QPushButton* b : modal->findChildren<QPushButton*>()) buttons << b->text();
            modal->findChild<QPushButton*>(QStringLiteral("confirmExitCancel"))->click();
        });
        QVERIFY(!window.confirm_exit());
        buttons.sort();
        QCOMPARE(buttons, (QStringList{QStringLiteral("取 消"), QStringLiteral("确 定")}));
    }

    // Choosing the mode in force keeps what was typed; another mode shows its hint.
    void choosing_a_mode_twice_keeps_the_address() {
        Window w;
        MainWindow& window = w.window;
        QLineEdit* box = window.address_bar()->address_box();
        window.switch_page(3);
        box->setText(QStringLiteral("http://shop.example/offerlist_1.htm"));
        window.switch_page(5);
        window.switch_page(3);
        QCOMPARE(box->text(), QStringLiteral("http://shop.example/offerlist_1.htm"));
        window.switch_page(4);
        QCOMPARE(box->text(), QStringLiteral("请输入店铺地址"));
    }

    void close_hides_to_the_notification_area() {
        Window w(true);
        MainWindow& window = w.window;
        window.set_notification_area_check([] { return true; });
        w.show();
        QVERIFY(!window.close());  // refused: only hidden
        QVERIFY(!window.isVisible());
        QCOMPARE(w.exits, 0);
        QVERIFY(window.tray_icon());
        QCOMPARE(window.tray_icon()->toolTip(), QStringLiteral("VelmoraQuillet V" VQ_VERSION));
        emit window.tray_icon()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(window.isVisible());
        const QList<QAction*> menu = window.tray_icon()->contextMenu()->actions();
        QCOMPARE(menu.size(), 1);
        QCOMPARE(menu.first()->text(), QStringLiteral("退出程序"));
    }

    // Without a notification area a hidden window could never come back: ask instead.
    void close_without_notification_area_asks_to_exit() {
        Window w(true);
        MainWindow& window = w.window;
        window.set_notification_area_check([] { return false; });
        w.show();
        ExitAnswer answer;
        answer.press_later("confirmExitCancel");
        window.close();
        QVERIFY(answer.seen);
        QVERIFY(window.isVisible());
        answer.press_later("confirmExitOk");
        window.close();
        QCOMPARE(w.exits, 1);
        QVERIFY(!window.isVisible());
    }

    void startup_fills_the_window_from_the_configuration() {
        guitest::SimHome home;
        QVERIFY(home.start());
        Startup run(home);
        auto& [services, core, window, startup, finished] = run;
        startup.start();
        QCOMPARE(startup.start_window()->windowTitle(),
                 QStringLiteral("VelmoraQuillet V" VQ_VERSION));
        QCOMPARE(startup.start_window()->status_label()->text(), QStringLiteral("正在加载预定信息--"));
        QCOMPARE(startup.start_window()->progress_bar()->value(), 65);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(services.messages.isEmpty());
        QVERIFY(window.isVisible());
        QVERIFY(!startup.start_window()->isVisible());
        QCOMPARE(startup.start_window()->progress_bar()->value(), 100);
        QCOMPARE(core.state.credentials().size(), home.sim.catalogue().keys().size());
        QCOMPARE(window.height(), 625);

        // The default package path: program folder, "aliT", seconds, ".csv".
        const QString path = window.run_panel()->output_path_box()->text();
        const QRegularExpression pattern(
            QRegularExpression::anchoredPattern(QRegularExpression::escape(home.path()) +
                                                QStringLiteral("/aliT\\d+\\.csv")));
        QVERIFY2(pattern.match(path).hasMatch(), qPrintable(path));
        QCOMPARE(vq::gui::qt_text(core.outputPath.get()), path);
        QCOMPARE(vq::gui::qt_text(core.state.outputFolder()), home.path() + QLatin1Char('/'));
        QVERIFY(vq::gui::qt_text(core.state.packageName()).startsWith(QStringLiteral("aliT")));
        // No options file: the defaults.
        QCOMPARE(window.settings_page()->failure_policy_box()->currentText(),
                 QStringLiteral("重新下载 仍失败删除"));
        QCOMPARE(vq::format_number(core.state.outputFormat.load()), 5);
    }

    void startup_without_key_pairs_ends_with_the_message() {
        guitest::SimHome home;
        vq::sim::SimOptions options;
        options.keys = 0;  // a configuration root without children
        QVERIFY(home.start(options));
        Startup run(home);
        auto& [services, core, window, startup, finished] = run;
        startup.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(finished.first().first().toBool(), false);
        const QString text = QStringLiteral("预定信息 加载失败，请重新启动--");
        QCOMPARE(services.messages.size(), 1);
        QCOMPARE(services.messages.first().title, QStringLiteral("提示"));
        // The second line names the source tried and the site.ini that named it.
        const QString siteIni = home.path() + QStringLiteral("/options/site.ini");
        QCOMPARE(services.messages.first().text,
                 text + QStringLiteral("\n配置来源：") +
                     vq::gui::qt_text(vq::site_settings().config_server) +
                     QStringLiteral("/logo.xml（由 ") + siteIni + QStringLiteral(" 指定）"));
        QCOMPARE(startup.start_window()->status_label()->text(), text);
        QVERIFY(!window.isVisible());
        QVERIFY(window.run_panel()->output_path_box()->text().isEmpty());
    }

    // Qt's own dialogs and buttons speak Chinese once the window's look is applied.
    void standard_dialogs_speak_chinese() {
        vq::gui::apply_application_look(*qApp);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("另存为"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
