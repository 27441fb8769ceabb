#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <memory>

#include <QTableWidget>

#include "gui/run_panel.hpp"
#include "gui/watch_window.hpp"
#include "gui/window_core.hpp"
#include "gui_fixture.hpp"
#include "model/list_file.hpp"
#include "output/package_check.hpp"

using vq::gui::gbk_text;
using vq::gui::qt_text;

namespace {

const QString kNameMessage = QStringLiteral("请检查文件名是否正确！");
const QString kPathMessage = QStringLiteral("请检查保存的文件名是否正确！");

// One window's core with its run panel and log pane, over the recording dialogs.
struct Panel {
    explicit Panel(const guitest::TempHome& home)
        : core(home.gbk()), panel(core, services), log(core.log) {}

    void add_rows(int count, const std::string& id = "1001") {
        for (int i = 0; i < count; ++i) core.list.append_row({"t", "1", "a", id});
    }
    bool idle_buttons() const {
        return panel.start_button()->isEnabled() && !panel.pause_button()->isEnabled() &&
               !panel.stop_button()->isEnabled() &&
               panel.pause_button()->text() == QStringLiteral("暂停");
    }

    guitest::RecordingServices services;
    vq::gui::WindowCore core;
    vq::gui::RunPanel panel;
    vq::gui::LogPane log;
};

}  // namespace

class RunPanelTest : public QObject {
    Q_OBJECT
private slots:
    void outputPathFromTheDialog_data();
    void outputPathFromTheDialog();
    void startRefusals_data();
    void startRefusals();
    void runToCompletionShowsTheTotals();
    void pauseContinueAndStop();
    void unwrittenPackageIsSaid();
    void aWrittenPackageIsNeverReplacedUnasked();
    void retryAddsTheFailedToTheirPackage();
    void watchShowsTheChangesAndUpdatesThePackage();
};

void RunPanelTest::outputPathFromTheDialog_data() {
    // Paths relative to a temporary folder; an empty chosen path is a cancelled dialog.
    // The panel starts with "pre.csv" in the box.
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::newRow("dot only in a folder name") << "ver1.2/shop" << "" << "" << "";
    QTest::newRow("no extension") << "pkg/shop" << "pkg/shop.csv" << "pkg/" << "shop";
    QTest::newRow("two dots") << "pkg/shop.a.csv" << "pkg/shop.a.csv" << "pkg/" << "shop";
    QTest::newRow("cancelled") << "" << "pre.csv" << "" << "pre";
}

void RunPanelTest::outputPathFromTheDialog() {
    QFETCH(QString, chosen);
    QFETCH(QString, box);
    QFETCH(QString, folder);
    QFETCH(QString, name);
    guitest::TempHome home;
    Panel p(home);
    const QString base = home.path() + QLatin1Char('/');
    QVERIFY(p.panel.apply_output_path(base + QStringLiteral("pre.csv")));

    if (!chosen.isEmpty()) p.services.savePaths << base + chosen;
    p.panel.choose_output_path();

    QCOMPARE(p.services.filters, QStringList{QStringLiteral("逗号分隔符文件(*.csv)|*.csv")});
    QCOMPARE(p.services.suffixes, QStringList{QStringLiteral("csv")});
    QCOMPARE(p.services.folders, QStringList{home.path()});  // beside the package named
    const QString shown = box.isEmpty() ? QString() : base + box;
    QCOMPARE(p.panel.output_path_box()->text(), shown);
    QCOMPARE(qt_text(p.core.outputPath.get()), shown);
    // Read-only, and it looks it: the window's background, not an editable field's.
    QLineEdit* pathBox = p.panel.output_path_box();
    QVERIFY(pathBox->isReadOnly());
    QCOMPARE(pathBox->palette().color(QPalette::Base), pathBox->palette().color(QPalette::Window));
    QVERIFY(pathBox->palette().color(QPalette::Base) != QLineEdit().palette().color(QPalette::Base));
    if (box.isEmpty()) {
        QCOMPARE(p.services.messages.size(), 1);
        QCOMPARE(p.services.messages[0].title, QStringLiteral("提示"));
        QCOMPARE(p.services.messages[0].text, kNameMessage);
        // With the box emptied, START must not run into a package without a path.
        p.add_rows(1);
        p.panel.start_button()->click();
        QCOMPARE(p.services.messages.size(), 2);
        QCOMPARE(p.services.messages[1].text, kPathMessage);
        QVERIFY(p.idle_buttons());
        return;
    }
    QVERIFY(p.services.messages.isEmpty());
    QCOMPARE(qt_text(p.core.state.outputFolder()), base + folder);
    QCOMPARE(qt_text(p.core.state.packageName()), name);
}

void RunPanelTest::startRefusals_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("withPath");
    QTest::addColumn<QString>("message");  // empty: refused silently
    QTest::newRow("empty list") << 0 << true << QString();
    QTest::newRow("no output path") << 3 << false << kPathMessage;
    // One row without an id does not bring it under the limit: the check comes first. The
    // offer to run it in parts is declined.
    QTest::newRow("1001 rows") << 1001 << true << QString();
}

void RunPanelTest::startRefusals() {
    QFETCH(int, rows);
    QFETCH(bool, withPath);
    QFETCH(QString, message);
    guitest::TempHome home;
    Panel p(home);
    if (withPath) QVERIFY(p.panel.apply_output_path(home.file(QStringLiteral("pkg.csv"))));
    p.add_rows(rows > 0 ? rows - 1 : 0);
    if (rows > 0) p.add_rows(1, "");
    p.services.confirmAnswer = false;

    p.panel.start_button()->click();

    QCOMPARE(p.services.questions.size(), rows > 1000 ? 1 : 0);
    if (rows > 1000) {
        QCOMPARE(p.services.questions[0].text,
                 QStringLiteral("宝贝列表有 1001 个宝贝，每次最多下载 1000 个。要分成 2 批依次下载，"
                                "每批完成后写入同一个数据包吗？"));
    }

    if (message.isEmpty()) {
        QVERIFY(p.services.messages.isEmpty());
    } else {
        QCOMPARE(p.services.messages.size(), 1);
        QCOMPARE(p.services.messages[0].title, QStringLiteral("提示"));
        QCOMPARE(p.services.messages[0].text, message);
    }
    QCOMPARE(p.core.controller.state(), vq::RunState::Idle);
    QVERIFY(p.idle_buttons());
    QCOMPARE(p.core.list.row_count(), rows);
    QVERIFY(p.log.toPlainText().isEmpty());
}

void RunPanelTest::runToCompletionShowsTheTotals() {
    guitest::SimHome home;
    QVERIFY(home.start());
    Panel p(home);
    p.core.state.set_credentials(home.key_pairs());
    const auto& products = home.sim.catalogue().products();
    for (int i = 0; i < 4; ++i) {
        const auto& product = products[static_cast<std::size_t>(i)];
        p.core.list.append_row(
            {vq::utf8_to_gbk(product.title), product.price, product.offerId, product.offerId});
    }
    p.core.list.append_row({"unknown", "1", "x", "987654321987"});  // the marketplace has no such offer
    p.core.state.outputFormat = *vq::format_from_number(5);
    p.core.state.pictureFailurePolicy = vq::FailurePolicy::RetryThenRemove;
    const QString package = home.file(QStringLiteral("pkg.csv"));
    QVERIFY(p.panel.apply_output_path(package));
    QSignalSpy shown(&p.panel, &vq::gui::RunPanel::completionShown);

    for (int run = 1; run <= 2; ++run) {
        QFile::remove(package);
        p.panel.start_button()->click();
        QCOMPARE(p.core.controller.state(), vq::RunState::Running);
        QVERIFY(!p.panel.start_button()->isEnabled());
        // Reset for the new run before any report of it arrives.
        QCOMPARE(p.panel.progress_bar()->value(), 0);
        QCOMPARE(p.panel.progress_bar()->format(), QStringLiteral("已完成 0/5  成功 0  失败 0"));

        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), run, 60000);
        vq::gui::CompletionWindow* window = p.panel.completion_window();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QVERIFY(window->isWindow());
        QCOMPARE(window->windowModality(), Qt::NonModal);
        QCOMPARE(window->windowTitle(), QStringLiteral("复制完成！"));
        QCOMPARE(window->total_label()->text(), QStringLiteral("下载总数： 5"));
        QCOMPARE(window->succeeded_label()->text(), QStringLiteral("成功下载： 4"));
        QCOMPARE(window->failed_label()->text(), QStringLiteral("下载失败： 1"));
        QCOMPARE(window->pictures_label()->text(), QStringLiteral("图片失败：0"));
        QVERIFY(window->check_label()->isVisible());
        QVERIFY(window->check_label()->text().startsWith(QStringLiteral("检查：宝贝 4 个，")));
        QVERIFY(window->check_label()->text().endsWith(QStringLiteral("问题 0 个")));
        QVERIFY(!window->unwritten_label()->isVisible());
        // The panel is not shown here: the window opens in the middle of the screen.
        const QPoint offset = window->frameGeometry().center() -
                              window->screen()->availableGeometry().center();
        QVERIFY(offset.manhattanLength() <= 2);

        QTRY_VERIFY(p.idle_buttons());
        QVERIFY(QFileInfo(package).isFile());
        QCOMPARE(p.panel.progress_bar()->value(), p.panel.progress_bar()->maximum());
        QCOMPARE(p.panel.progress_bar()->format(), QStringLiteral("已完成 5/5  成功 4  失败 1"));

        window->close_button()->click();
        QVERIFY(!window->isVisible());
    }
    // One window, reused by the second run.
    QCOMPARE(p.panel.findChildren<vq::gui::CompletionWindow*>().size(), 1);
    QTRY_VERIFY(p.log.toPlainText().contains(QStringLiteral("下载完成！成功： 4 失败：1")));
    QVERIFY(p.log.toPlainText().contains(QStringLiteral("去除空ID宝贝【实际宝贝数量为5  个宝贝】")));

    // A new list: the last run's bar goes.
    p.panel.clear_progress();
    QCOMPARE(p.panel.progress_bar()->value(), p.panel.progress_bar()->minimum() - 1);
}

void RunPanelTest::pauseContinueAndStop() {
    guitest::SimHome home;
    vq::sim::SimOptions options;
    options.latencyMs = 150;
    QVERIFY(home.start(options));
    Panel p(home);
    p.core.state.set_credentials(home.key_pairs());
    for (int i = 0; i < 20; ++i) {
        const auto& product = home.sim.catalogue().products()[static_cast<std::size_t>(i)];
        p.core.list.append_row({vq::utf8_to_gbk(product.title), product.price, "", product.offerId});
    }
    p.core.state.outputFormat = *vq::format_from_number(5);
    p.core.state.pictureFailurePolicy = vq::FailurePolicy::RetryThenRemove;
    const QString package = home.file(QStringLiteral("pkg.csv"));
    QVERIFY(p.panel.apply_output_path(package));
    QSignalSpy shown(&p.panel, &vq::gui::RunPanel::completionShown);
    QPushButton* start = p.panel.start_button();
    QPushButton* pause = p.panel.pause_button();
    QPushButton* stop = p.panel.stop_button();

    start->click();
    QVERIFY(!start->isEnabled());
    QVERIFY(pause->isEnabled());
    QVERIFY(stop->isEnabled());
    QCOMPARE(pause->text(), QStringLiteral("暂停"));

    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("继续"));
    QVERIFY(!start->isEnabled());
    QVERIFY(stop->isEnabled());
    QCOMPARE(p.core.controller.state(), vq::RunState::Held);
    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("暂停"));
    QCOMPARE(p.core.controller.state(), vq::RunState::Running);

    // A path chosen during the run is for the next run, and the panel says so.
    QVERIFY(!p.panel.next_run_note()->isVisibleTo(&p.panel));
    QVERIFY(p.panel.apply_output_path(home.file(QStringLiteral("next.csv"))));
    QVERIFY(p.panel.next_run_note()->isVisibleTo(&p.panel));

    // 停止 asks first, saying what becomes of the work; 否 leaves the run going.
    p.services.confirmAnswer = false;
    stop->click();
    QCOMPARE(p.services.questions.size(), 1);
    QCOMPARE(p.services.questions[0].title, QStringLiteral("停止"));
    QVERIFY(QRegularExpression(QStringLiteral("^已完成 \\d+ 个宝贝。停止后这些宝贝写入数据包，其余 \\d+ 个存入待续列表。$"))
                .match(p.services.questions[0].text)
                .hasMatch());
    QVERIFY(p.core.controller.state() != vq::RunState::Idle);

    // Stopped while held: the finished products are in the package, the others in the
    // continuation list, and the completion window says so.
    pause->click();
    QCOMPARE(pause->text(), QStringLiteral("继续"));
    p.services.confirmAnswer = true;
    stop->click();
    QVERIFY(p.idle_buttons());
    QCOMPARE(p.core.controller.state(), vq::RunState::Idle);
    QVERIFY(!p.panel.next_run_note()->isVisibleTo(&p.panel));
    QTRY_COMPARE(shown.size(), 1);
    vq::gui::CompletionWindow* window = p.panel.completion_window();
    QCOMPARE(window->windowTitle(), QStringLiteral("复制已停止！"));
    QVERIFY(window->not_done_label()->isVisible());
    const QString rest = home.file(QStringLiteral("pkg.failed.txt"));
    QCOMPARE(window->failed_list_label()->text(), QStringLiteral("待续列表：") + rest);
    QCOMPARE(window->retry_button()->text(), QStringLiteral("继续未完成的宝贝"));
    const auto listed = vq::read_list_file(gbk_text(rest));
    QVERIFY(listed);
    const int packaged = QFileInfo::exists(package)
                             ? vq::check_package(gbk_text(package), gbk_text(home.file(QStringLiteral("pkg")))).rows
                             : 0;
    QCOMPARE(static_cast<int>(listed->size()) + packaged, 20);

    // Continued, the same package gets the rest.
    window->retry_button()->click();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 60000);
    QCOMPARE(window->windowTitle(), QStringLiteral("复制完成！"));
    QVERIFY(!window->not_done_label()->isVisible());
    const vq::PackageCheck check =
        vq::check_package(gbk_text(package), gbk_text(home.file(QStringLiteral("pkg"))));
    QVERIFY(check.clean());
    QCOMPARE(check.rows, 20);
}

// A package that could not be written (here: a folder stands where the table goes) must
// not pass for one.
void RunPanelTest::unwrittenPackageIsSaid() {
    guitest::TempHome home;
    Panel p(home);
    p.add_rows(1, "");  // no id: the run has nothing to fetch and completes at once
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral("table.csv")));
    QVERIFY(p.panel.apply_output_path(home.file(QStringLiteral("table.csv"))));
    QSignalSpy shown(&p.panel, &vq::gui::RunPanel::completionShown);
    p.panel.start_run();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 20000);
    vq::gui::CompletionWindow* window = p.panel.completion_window();
    QCOMPARE(window->total_label()->text(), QStringLiteral("下载总数： 0"));
    QVERIFY(window->unwritten_label()->isVisible());
    QVERIFY(!window->check_label()->isVisible());  // nothing written, nothing checked
}

// After a run the default name moves on, so the next run makes a package of its own; a run
// onto a table that is there asks before it replaces it.
void RunPanelTest::aWrittenPackageIsNeverReplacedUnasked() {
    guitest::TempHome home;
    Panel p(home);
    const QString first = home.file(QStringLiteral("aliT100.csv"));
    QVERIFY(p.panel.apply_output_path(first));
    p.add_rows(1, "");  // no id: the run completes at once with a header-only package
    QSignalSpy shown(&p.panel, &vq::gui::RunPanel::completionShown);
    p.panel.start_run();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 20000);
    QVERIFY(QFileInfo::exists(first));
    QVERIFY(p.services.questions.isEmpty());  // nothing was there to replace
    const QString moved = p.panel.output_path_box()->text();
    QVERIFY(moved != first);
    QVERIFY(QRegularExpression(QStringLiteral("/aliT\\d+(_\\d+)?\\.csv$")).match(moved).hasMatch());
    QVERIFY(!QFileInfo::exists(moved));

    // Back onto the written one: 否 starts nothing, 是 replaces it.
    QVERIFY(p.panel.apply_output_path(first));
    p.add_rows(1, "");
    p.services.confirmAnswer = false;
    p.panel.start_run();
    QCOMPARE(p.services.questions.size(), 1);
    QCOMPARE(p.services.questions.last().text, QStringLiteral("数据包已存在，是否覆盖？"));
    QCOMPARE(p.core.controller.state(), vq::RunState::Idle);
    QCOMPARE(p.core.list.row_count(), 1);  // untouched: the run never started
    p.services.confirmAnswer = true;
    p.panel.setGeometry(200, 150, 900, 600);
    p.panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.panel));
    p.panel.start_run();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 20000);
    QCOMPARE(p.services.questions.size(), 2);
    // The completion window opens over the window it belongs to.
    const QPoint offset = p.panel.completion_window()->frameGeometry().center() -
                          p.panel.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
}

// With the marketplace away every product fails and the completion window offers the
// retry; confirmed, it refills the list and adds the products to the package of that run,
// although the path box names another by then.
void RunPanelTest::retryAddsTheFailedToTheirPackage() {
    guitest::SimHome home;
    QVERIFY(home.start());
    Panel p(home);
    p.core.state.set_credentials(home.key_pairs());
    const auto& products = home.sim.catalogue().products();
    for (int i = 0; i < 3; ++i) {
        const auto& product = products[static_cast<std::size_t>(i)];
        p.core.list.append_row(
            {vq::utf8_to_gbk(product.title), product.price, product.offerId, product.offerId});
    }
    p.core.state.outputFormat = *vq::format_from_number(4);
    p.core.state.pictureFailurePolicy = vq::FailurePolicy::RetryThenRemove;
    const QString package = home.file(QStringLiteral("pkg.csv"));
    QVERIFY(p.panel.apply_output_path(package));
    QSignalSpy shown(&p.panel, &vq::gui::RunPanel::completionShown);

    home.sim.stop();
    p.panel.start_button()->click();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 60000);
    vq::gui::CompletionWindow* window = p.panel.completion_window();
    QCOMPARE(window->failed_label()->text(), QStringLiteral("下载失败： 3"));
    // Nothing succeeded: no empty package that would pass for a finished one, and the
    // window says why.
    QVERIFY(!QFileInfo::exists(package));
    QVERIFY(window->unwritten_label()->isVisible());
    QCOMPARE(window->unwritten_label()->text(), QStringLiteral("没有一个宝贝下载成功，没有写入数据包。"));
    QVERIFY(!window->skipped_label()->isVisible());
    const QString failedList = home.file(QStringLiteral("pkg.failed.txt"));
    QVERIFY(window->retry_button()->isVisible());
    QCOMPARE(window->failed_list_label()->text(), QStringLiteral("失败列表：") + failedList);
    const auto listed = vq::read_list_file(gbk_text(failedList));
    QVERIFY(listed);
    QCOMPARE(listed->size(), std::size_t{3});

    QVERIFY(home.start());  // the marketplace is back, on another port
    QVERIFY(p.panel.apply_output_path(home.file(QStringLiteral("other.csv"))));
    QTRY_VERIFY(p.idle_buttons());

    // 否 changes nothing.
    p.services.confirmAnswer = false;
    p.core.list.delete_all();
    window->retry_button()->click();
    QCOMPARE(p.services.questions.size(), 1);
    QCOMPARE(p.core.list.row_count(), 0);
    QCOMPARE(p.core.controller.state(), vq::RunState::Idle);

    p.services.confirmAnswer = true;
    window->retry_button()->click();
    QCOMPARE(p.core.list.row_count(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 2, 60000);
    QCOMPARE(window->failed_label()->text(), QStringLiteral("下载失败： 0"));
    QVERIFY(!window->retry_button()->isVisible());
    QVERIFY(!QFileInfo::exists(failedList));
    QVERIFY(!QFileInfo::exists(home.file(QStringLiteral("other.csv"))));
    const vq::PackageCheck check =
        vq::check_package(gbk_text(package), gbk_text(home.file(QStringLiteral("pkg"))));
    QVERIFY(check.clean());
    QCOMPARE(check.format, 4);
    QCOMPARE(check.rows, 3);
}

// 检查货源变化 after a run: the bar counts the offers, the window lists what the supplier
// changed, 更新数据包 writes it into the package and moves the offer taken down out.
void RunPanelTest::watchShowsTheChangesAndUpdatesThePackage() {
    guitest::SimHome home;
    QVERIFY(home.start());
    Panel p(home);
    p.core.state.set_credentials(home.key_pairs());
    const auto& products = home.sim.catalogue().products();
    for (int i = 0; i < 4; ++i) {
        const auto& product = products[static_cast<std::size_t>(i)];
        p.core.list.append_row(
            {vq::utf8_to_gbk(product.title), product.price, product.offerId, product.offerId});
    }
    p.core.state.outputFormat = *vq::format_from_number(5);
    const QString package = home.file(QStringLiteral("pkg.csv"));
    QVERIFY(p.panel.apply_output_path(package));
    QSignalSpy completed(&p.panel, &vq::gui::RunPanel::completionShown);
    p.panel.start_button()->click();
    QTRY_COMPARE_WITH_TIMEOUT(completed.size(), 1, 60000);
    QTRY_VERIFY(p.idle_buttons());
    QVERIFY(p.panel.watch_button()->isEnabled());

    QVERIFY(home.sim.change_offer(products[1].offerId, vq::sim::OfferChange::PriceUp));
    QVERIFY(home.sim.change_offer(products[2].offerId, vq::sim::OfferChange::TakenDown));
    QSignalSpy shown(&p.panel, &vq::gui::RunPanel::changesShown);
    p.panel.watch_button()->click();
    QVERIFY(!p.panel.start_button()->isEnabled());
    QVERIFY(p.panel.stop_button()->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, 60000);
    QVERIFY(p.idle_buttons());
    QCOMPARE(p.panel.progress_bar()->format(), QStringLiteral("已检查 4/4"));
    vq::gui::ChangesWindow* window = p.panel.changes_window();
    QVERIFY(window && window->isVisible());
    QVERIFY(window->summary_label()->text().contains(QStringLiteral("价格变化 1，")));
    // In the package's order, which is the order the products were finished in.
    QCOMPARE(window->table()->rowCount(), 2);
    QStringList kinds;
    for (int row = 0; row < 2; ++row) {
        const QString product = window->table()->item(row, 0)->text();
        const QString kind = window->table()->item(row, 1)->text();
        kinds.append(kind);
        const auto& changed = products[kind == QStringLiteral("价格") ? 1u : 2u];
        QVERIFY2(product.contains(QString::fromStdString(changed.offerId)), qPrintable(product));
    }
    kinds.sort();
    QCOMPARE(kinds, QStringList({QStringLiteral("下架"), QStringLiteral("价格")}));
    QVERIFY(QFileInfo(home.file(QStringLiteral("pkg.changes.tsv"))).isFile());

    p.services.confirmAnswer = true;
    window->update_button()->click();
    QVERIFY(!p.services.messages.isEmpty());
    QVERIFY2(p.services.messages.last().text.startsWith(QStringLiteral("数据包已更新：1 个宝贝更新，1 个下架宝贝移到：")),
             qPrintable(p.services.messages.last().text));
    QVERIFY(p.services.messages.last().text.endsWith(QStringLiteral("问题 0 个")));
    QVERIFY(!window->update_button()->isEnabled());
    const auto table = vq::read_file_bytes(gbk_text(package));
    QVERIFY(table);
    const vq::PackageTable read = vq::read_package_table(*table);
    QCOMPARE(static_cast<int>(read.records.size()), 3);
}

QTEST_MAIN(RunPanelTest)
#include "run_panel_test.moc"
