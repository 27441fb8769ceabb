// The address row and the product list tab of the "采集" page.

#include <QDir>
#include <QFileInfo>
#include <QtTest>
#include <QHeaderView>
#include <QFontMetrics>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <memory>
#include <thread>

#include "app/window_pages.hpp"
#include "gui/address_bar.hpp"
#include "gui/list_panel.hpp"
#include "gui/window_core.hpp"
#include "gui_fixture.hpp"
#include "marketplace-sim/shop_pages.hpp"

using vq::gui::AddressBar;
using vq::gui::ListPanel;
using vq::gui::gbk_text;
using vq::gui::qt_text;

namespace {

constexpr int kSlowTimeoutMs = 30000;

enum Step { Press = 0, Leave = 1 };  // other values: navigation item to apply

vq::ProductEntry entry(const QString& title, const QString& id) {
    return {gbk_text(title), gbk_text(QStringLiteral("1.50")),
            gbk_text(QStringLiteral("http://detail.localhost/offer/%1.html").arg(id)),
            gbk_text(id)};
}

QStringList column(const ListPanel& panel, int col) {
    QStringList texts;
    const auto* model = panel.model();
    for (int r = 0; r < model->rowCount(); ++r) texts << model->index(r, col).data().toString();
    return texts;
}

QStringList core_column(const vq::gui::WindowCore& core, int col) {
    QStringList texts;
    for (int r = 0; r < core.list.row_count(); ++r) texts << qt_text(core.list.field(r, col));
    return texts;
}

void select_rows(ListPanel& panel, std::initializer_list<int> rows) {
    QItemSelectionModel* selection = panel.view()->selectionModel();
    selection->clearSelection();
    for (int r : rows) {
        selection->setCurrentIndex(panel.model()->index(r, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

}  // namespace

class CollectPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void theListIsKeptAcrossRestarts();
    void initialRowAndExampleButton();
    void hintRules_data();
    void hintRules();
    void addShopFillsListOnceReadersFinish();
    void addSingleProductAddsOneRow();
    void closingDuringAddAbortsIt();
    void stopReadingKeepsTheRowsAdded();
    void listViewMirrorsCoreList();
    void titlesShowAsPeopleReadThem();
    void headersAndContextMenu();
    void exportThenImportGivesSameRows();
    void copyAndOpenUseCurrentRow();

private:
    // Runs "添加到列表" with the mode of a navigation item; returns once it is available again.
    void add(vq::gui::WindowCore& core, AddressBar& bar, int item, const QString& address);

    // The stand-in answers slowly enough that an add visibly takes a while.
    std::unique_ptr<guitest::SimHome> sim_;
};

void CollectPageTest::initTestCase() {
    sim_ = std::make_unique<guitest::SimHome>();
    vq::sim::SimOptions options;
    options.latencyMs = 150;
    QVERIFY(sim_->start(options));
}

void CollectPageTest::add(vq::gui::WindowCore& core, AddressBar& bar, int item,
                          const QString& address) {
    bar.apply_page_switch(vq::switch_page(item));
    bar.address_box()->setText(address);
    QSignalSpy finished(&bar, &AddressBar::addFinished);
    // The readers must be done by the time the button comes back.
    bool readersRunningAtFinish = true;
    connect(&bar, &AddressBar::addFinished, this,
            [&] { readersRunningAtFinish = core.readers.running(); });
    // A timer that fires while the command runs shows the window was never held up.
    bool timerFired = false;
    bool addEnabledWhenFired = true;
    QTimer::singleShot(0, this, [&] {
        timerFired = true;
        addEnabledWhenFired = bar.add_button()->isEnabled();
    });

    // The stand-in keeps the command's requests waiting until the timer has had its turn.
    sim_->sim.hold_requests("");
    QTest::mouseClick(bar.add_button(), Qt::LeftButton);
    QVERIFY(bar.adding());
    QVERIFY(!bar.add_button()->isEnabled());
    QVERIFY(bar.import_button()->isEnabled());
    QVERIFY(bar.address_box()->isEnabled());
    QTRY_VERIFY(timerFired);
    sim_->sim.release_requests();
    QVERIFY(!addEnabledWhenFired);

    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kSlowTimeoutMs);
    QVERIFY(bar.add_button()->isEnabled());
    QCOMPARE(bar.add_button()->text(), QStringLiteral("添加到列表"));
    QVERIFY(!readersRunningAtFinish);
    QVERIFY(!bar.adding());
    disconnect(&bar, &AddressBar::addFinished, this, nullptr);
}

void CollectPageTest::initialRowAndExampleButton() {
    guitest::TempHome home;
    guitest::RecordingServices services;
    vq::gui::WindowCore core(home.gbk());
    AddressBar bar(core, services);

    QCOMPARE(bar.address_label()->text(), QStringLiteral("商品地址："));
    QCOMPARE(bar.address_box()->text(), QStringLiteral("请输入宝贝地址"));
    QVERIFY(core.state.addressMode.load() == vq::AddressMode::None);
    QCOMPARE(bar.add_button()->text(), QStringLiteral("添加到列表"));
    QCOMPARE(bar.import_button()->text(), QStringLiteral("导入列表"));
    QCOMPARE(bar.example_button()->toolTip(), QStringLiteral("示例店铺地址"));

    QTest::mouseClick(bar.example_button(), Qt::LeftButton);
    QCOMPARE(bar.address_box()->text(), qt_text(vq::site_settings().example_shop));
    QCOMPARE(bar.address_box()->text(), sim_->shop_address(1));

    bar.apply_page_switch(vq::switch_page(3));
    QCOMPARE(bar.address_label()->text(), QStringLiteral("列表地址："));
    QVERIFY(core.state.addressMode.load() == vq::AddressMode::List);
}

void CollectPageTest::hintRules_data() {
    QTest::addColumn<int>("modeItem");  // 0: no mode chosen yet
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("expected");

    const QString typed = QStringLiteral("http://shop1.localhost/page/offerlist.htm");
    QTest::newRow("press on a hint empties") << 0 << QStringLiteral("请输入店铺地址") << int(Press)
                                             << QString();
    QTest::newRow("press on an address keeps it") << 2 << typed << int(Press) << typed;
    QTest::newRow("leave empty restores the hint") << 2 << QString() << int(Leave)
                                                   << QStringLiteral("请输入宝贝地址");
    QTest::newRow("leave empty in shop mode") << 4 << QString() << int(Leave)
                                              << QStringLiteral("请输入店铺地址");
    QTest::newRow("leave empty without a mode") << 0 << QString() << int(Leave) << QString();
    QTest::newRow("leave keeps an address") << 3 << typed << int(Leave) << typed;
    QTest::newRow("same mode again keeps the address") << 3 << typed << 3 << typed;
    QTest::newRow("another mode puts its hint") << 3 << typed << 4
                                                << QStringLiteral("请输入店铺地址");
    QTest::newRow("first mode puts its hint") << 0 << typed << 2
                                              << QStringLiteral("请输入宝贝地址");
}

void CollectPageTest::hintRules() {
    QFETCH(int, modeItem);
    QFETCH(QString, box);
    QFETCH(int, step);
    QFETCH(QString, expected);

    guitest::TempHome home;
    guitest::RecordingServices services;
    vq::gui::WindowCore core(home.gbk());
    AddressBar bar(core, services);
    bar.show();
    QVERIFY(QTest::qWaitForWindowExposed(&bar));

    if (modeItem) bar.apply_page_switch(vq::switch_page(modeItem));
    bar.address_box()->setText(box);
    if (step == Press) {
        QTest::mousePress(bar.address_box(), Qt::LeftButton);
        QTest::mouseRelease(bar.address_box(), Qt::LeftButton);
    } else if (step == Leave) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(bar.address_box(), &out);
    } else {
        bar.apply_page_switch(vq::switch_page(step));
    }
    QCOMPARE(bar.address_box()->text(), expected);
}

void CollectPageTest::addShopFillsListOnceReadersFinish() {
    guitest::RecordingServices services;
    vq::gui::WindowCore core(sim_->gbk());
    AddressBar bar(core, services);
    ListPanel panel(core, services);

    add(core, bar, 4, sim_->shop_address(1));
    if (QTest::currentTestFailed()) return;

    QStringList expected;
    const auto& catalogue = sim_->sim.catalogue();
    for (int index : catalogue.shop(1)->products) {
        expected << QString::fromStdString(catalogue.products()[static_cast<std::size_t>(index)].offerId);
    }
    // In the shop's own order, page after page.
    QTRY_COMPARE(panel.model()->rowCount(), static_cast<int>(expected.size()));
    QCOMPARE(column(panel, vq::kIdColumn), expected);
    QCOMPARE(panel.count_label()->text(), QString::number(expected.size()));

    // A second add of the same shop is possible again, and adds none of the products the
    // list holds already.
    QString logged;
    connect(&core.log, &vq::gui::GuiLog::appended, [&logged](const QString& text) { logged += text; });
    add(core, bar, 4, sim_->shop_address(1));
    if (QTest::currentTestFailed()) return;
    QTRY_VERIFY(logged.contains(QStringLiteral("添加 0 个宝贝")));
    QVERIFY(logged.contains(QStringLiteral("  %1 个重复的宝贝未添加\n").arg(expected.size())));
    QCOMPARE(panel.model()->rowCount(), static_cast<int>(expected.size()));
    QCOMPARE(panel.count_label()->text(), QString::number(expected.size()));
}

void CollectPageTest::addSingleProductAddsOneRow() {
    guitest::RecordingServices services;
    vq::gui::WindowCore core(sim_->gbk());
    AddressBar bar(core, services);
    ListPanel panel(core, services);

    const auto& catalogue = sim_->sim.catalogue();
    const vq::sim::Product& product =
        catalogue.products()[static_cast<std::size_t>(catalogue.shop(1)->products.front())];
    const QString address = qt_text(vq::sim::site_address("detail", sim_->sim.port()) + "/offer/" +
                                    product.offerId + ".html");
    add(core, bar, 2, address);
    if (QTest::currentTestFailed()) return;

    QTRY_COMPARE(panel.model()->rowCount(), 1);
    QCOMPARE(column(panel, vq::kIdColumn), QStringList{QString::fromStdString(product.offerId)});
    QCOMPARE(column(panel, vq::kAddressColumn), QStringList{address});
    QVERIFY(column(panel, vq::kTitleColumn).constFirst().endsWith(QStringLiteral(" - 阿里巴巴")));
    QCOMPARE(panel.count_label()->text(), QStringLiteral("1"));
}

void CollectPageTest::closingDuringAddAbortsIt() {
    guitest::RecordingServices services;
    vq::gui::WindowCore core(sim_->gbk());
    auto bar = std::make_unique<AddressBar>(core, services);
    bar->apply_page_switch(vq::switch_page(4));
    bar->address_box()->setText(sim_->shop_address(2));
    bar->add_to_list();
    QVERIFY(bar->adding());

    // The shop page is still on its way: the stop aborts it, so no job ever starts.
    bar.reset();
    QVERIFY(!core.readers.running());
    QCoreApplication::processEvents();  // the bar's pending call is dropped with it
    QCOMPARE(core.list.row_count(), 0);
}

// A shop claiming two billion pages: while its readers run the button is "停止读取", and
// pressing it ends them at once, keeping what they added.
void CollectPageTest::stopReadingKeepsTheRowsAdded() {
    {
        guitest::SimHome endless;
        vq::sim::SimOptions options;
        options.latencyMs = 50;
        options.claimedPages = 2000000000;
        QVERIFY(endless.start(options));
        guitest::RecordingServices services;
        vq::gui::WindowCore core(endless.gbk());
        AddressBar bar(core, services);
        QSignalSpy finished(&bar, &AddressBar::addFinished);
        bar.apply_page_switch(vq::switch_page(4));
        bar.address_box()->setText(endless.shop_address(1));
        QTest::mouseClick(bar.add_button(), Qt::LeftButton);

        QTRY_COMPARE_WITH_TIMEOUT(bar.add_button()->text(), QStringLiteral("停止读取"), kSlowTimeoutMs);
        QVERIFY(bar.add_button()->isEnabled());
        QVERIFY(bar.adding());
        QTRY_VERIFY_WITH_TIMEOUT(core.list.row_count() > 0, kSlowTimeoutMs);
        QVERIFY(core.readers.running());

        QTest::mouseClick(bar.add_button(), Qt::LeftButton);
        QVERIFY(!core.readers.running());
        QVERIFY(!bar.adding());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(bar.add_button()->text(), QStringLiteral("添加到列表"));
        QVERIFY(bar.add_button()->isEnabled());
        const int rows = core.list.row_count();
        QVERIFY(rows > 0);
        QTest::qWait(300);
        QCOMPARE(core.list.row_count(), rows);
        QVERIFY(core.readers.job().nextPage < vq::kMostListingPages);
    }
    // The shared stand-in's settings again for the tests after this one.
    vq::set_site_settings(vq::load_site_settings(sim_->gbk() + "/options/site.ini"));
}

// The view and its tooltip decode the page's entities; the list keeps the title as it came.
void CollectPageTest::titlesShowAsPeopleReadThem() {
    const struct {
        QString raw;
        QString shown;
    } cases[] = {
        {QStringLiteral("雨伞&amp;礼盒装"), QStringLiteral("雨伞&礼盒装")},
        {QStringLiteral("&lt;b&gt; &quot;大&quot; &#39;小&#39;"), QStringLiteral("<b> \"大\" '小'")},
        {QStringLiteral("&#21487;&#x53EF;&#X53ef;"), QStringLiteral("可可可")},
        {QStringLiteral("&amp;lt; stays &lt;"), QStringLiteral("&lt; stays <")},
        {QStringLiteral("&nbsp; &#0; &#xD800; &#99999999; & ;"), QStringLiteral("&nbsp; &#0; &#xD800; &#99999999; & ;")},
        {QStringLiteral("a & b; &amp"), QStringLiteral("a & b; &amp")},
    };
    guitest::RecordingServices services;
    vq::gui::WindowCore core(sim_->gbk());
    ListPanel panel(core, services);
    for (const auto& c : cases) {
        core.list.append_row({gbk_text(c.raw), "1", "http://detail.localhost/offer/1.html", "1"});
    }
    QTRY_COMPARE(panel.model()->rowCount(), static_cast<int>(std::size(cases)));
    for (int r = 0; r < panel.model()->rowCount(); ++r) {
        const QModelIndex title = panel.model()->index(r, vq::kTitleColumn);
        QCOMPARE(title.data().toString(), cases[r].shown);
        QCOMPARE(title.data(Qt::ToolTipRole).toString(), cases[r].shown);
        QCOMPARE(qt_text(core.list.field(r, vq::kTitleColumn)), cases[r].raw);
    }
}

void CollectPageTest::listViewMirrorsCoreList() {
    guitest::TempHome home;
    guitest::RecordingServices services;
    vq::gui::WindowCore core(home.gbk());
    ListPanel panel(core, services);
    QCOMPARE(panel.count_label()->text(), QStringLiteral("0"));

    core.list.append_rows({entry(QStringLiteral("甲"), "1"), entry(QStringLiteral("乙"), "2"),
                           entry(QStringLiteral("丙"), "3"), entry(QStringLiteral("丁"), "4"),
                           entry(QStringLiteral("戊"), "5")});
    QTRY_COMPARE(panel.model()->rowCount(), 5);
    QCOMPARE(panel.count_label()->text(), QStringLiteral("5"));

    // Rows appended by another thread keep the user's selection.
    select_rows(panel, {1, 3});
    std::thread reader([&] {
        for (int i = 6; i <= 8; ++i) core.list.append_row(entry(QStringLiteral("新"), QString::number(i)));
    });
    reader.join();
    QTRY_COMPARE(panel.model()->rowCount(), 8);
    QCOMPARE(panel.selected_positions(), (std::vector<int>{1, 3}));
    QCOMPARE(panel.current_row(), 3);

    QTest::mouseClick(panel.delete_button(), Qt::LeftButton);
    QCOMPARE(services.questions.size(), 1);  // more than one row: asked first
    QCOMPARE(services.questions.last().text, QStringLiteral("确定删除选中的 2 个宝贝吗？"));
    QTRY_COMPARE(panel.model()->rowCount(), 6);
    QCOMPARE(column(panel, vq::kTitleColumn), core_column(core, vq::kTitleColumn));
    QCOMPARE(column(panel, vq::kIdColumn),
             (QStringList{"1", "3", "5", "6", "7", "8"}));
    QCOMPARE(panel.count_label()->text(), QStringLiteral("6"));
    QCOMPARE(panel.current_row(), -1);

    // 清空 asks too; 否 keeps every row.
    services.confirmAnswer = false;
    QTest::mouseClick(panel.clear_button(), Qt::LeftButton);
    QCOMPARE(services.questions.last().text, QStringLiteral("确定清空列表中的 6 个宝贝吗？"));
    QCOMPARE(core.list.row_count(), 6);
    services.confirmAnswer = true;
    QTest::mouseClick(panel.clear_button(), Qt::LeftButton);
    QCOMPARE(services.questions.size(), 3);
    QTRY_COMPARE(panel.model()->rowCount(), 0);
    QCOMPARE(core.list.row_count(), 0);
    QCOMPARE(panel.count_label()->text(), QStringLiteral("0"));
}

// The list outlives the program: written to options/list.txt once changes settle and when
// the panel goes, and back at the next start with a log line.
void CollectPageTest::theListIsKeptAcrossRestarts() {
    guitest::TempHome home;
    guitest::RecordingServices services;
    const QString kept = home.file(QStringLiteral("options/list.txt"));
    {
        vq::gui::WindowCore core(home.gbk());
        ListPanel panel(core, services);
        panel.keep_list();  // nothing kept yet
        QCOMPARE(core.list.row_count(), 0);
        core.list.append_rows({entry(QStringLiteral("甲"), "1"), entry(QStringLiteral("乙"), "2")});
        QTRY_VERIFY(QFileInfo::exists(kept));
        core.list.append_row(entry(QStringLiteral("丙"), "3"));
        QTRY_COMPARE(panel.model()->rowCount(), 3);
    }  // the last change is written as the panel goes
    vq::gui::WindowCore core(home.gbk());
    QStringList logged;
    connect(&core.log, &vq::gui::GuiLog::appended, this, [&](const QString& text) { logged << text; });
    ListPanel panel(core, services);
    panel.keep_list();
    QCOMPARE(core_column(core, vq::kIdColumn), (QStringList{"1", "2", "3"}));
    QTRY_COMPARE(panel.model()->rowCount(), 3);
    QTRY_COMPARE(logged.size(), 1);
    QVERIFY(logged.first().contains(QStringLiteral("已恢复上次的宝贝列表：3 个宝贝")));
}

void CollectPageTest::headersAndContextMenu() {
    guitest::TempHome home;
    guitest::RecordingServices services;
    vq::gui::WindowCore core(home.gbk());
    ListPanel panel(core, services);

    QStringList headers;
    for (int c = 0; c < panel.model()->columnCount(); ++c) {
        headers << panel.model()->headerData(c, Qt::Horizontal).toString();
    }
    QCOMPARE(headers, (QStringList{QStringLiteral("名称"), QStringLiteral("价格"),
                                   QStringLiteral("宝贝地址"), QStringLiteral("ID")}));
    // Each as wide as its longest value (a title of 30 Chinese characters at most); the
    // address takes the rest.
    const QFontMetrics metrics(panel.view()->font());
    QVERIFY(panel.view()->columnWidth(0) >= metrics.horizontalAdvance(QString(30, QChar(0x6C49))));
    QVERIFY(panel.view()->columnWidth(0) <= 500);
    QVERIFY(panel.view()->columnWidth(1) >= metrics.horizontalAdvance(QStringLiteral("999999.99")));
    QVERIFY(panel.view()->columnWidth(3) >= metrics.horizontalAdvance(QStringLiteral("0000000000000")));
    QCOMPARE(panel.view()->header()->sectionResizeMode(2), QHeaderView::Stretch);
    QCOMPARE(panel.view()->selectionMode(), QAbstractItemView::ExtendedSelection);

    QStringList items;
    for (const QAction* action : panel.context_menu()->actions()) {
        items << (action->isSeparator() ? QStringLiteral("|") : action->text());
    }
    QCOMPARE(items, (QStringList{QStringLiteral("导出宝贝列表"), QStringLiteral("用IE打开宝贝链接"),
                                 QStringLiteral("用EXCEL打开宝贝列表"), QStringLiteral("|"),
                                 QStringLiteral("复制宝贝地址"), QStringLiteral("复制宝贝名称"),
                                 QStringLiteral("删除选中宝贝"), QStringLiteral("|")}));

    // A right click on the list opens it.
    panel.resize(800, 300);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QPoint at(40, 20);
    const QPoint global = panel.view()->viewport()->mapToGlobal(at);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, global);
    QApplication::sendEvent(panel.view()->viewport(), &click);
    QTRY_VERIFY(panel.context_menu()->isVisible());
    QCOMPARE(panel.context_menu()->pos(), global);
    panel.context_menu()->hide();
}

void CollectPageTest::exportThenImportGivesSameRows() {
    guitest::TempHome home;
    guitest::RecordingServices services;
    vq::gui::WindowCore core(home.gbk());
    AddressBar bar(core, services);
    ListPanel panel(core, services);
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral("lists")));
    const QString file = home.file(QStringLiteral("lists/宝贝.txt"));
    const QString filter = QStringLiteral("宝贝列表文件(*.txt)|*.txt");

    // An empty list asks nothing and says nothing.
    services.savePaths << file;
    panel.export_list();
    QVERIFY(services.filters.isEmpty());
    QVERIFY(services.messages.isEmpty());
    services.savePaths.clear();

    core.list.append_rows({entry(QStringLiteral("红色连衣裙"), "101"),
                           entry(QStringLiteral("蓝色 T恤"), "102"),
                           entry(QStringLiteral("黑色皮鞋"), "103")});
    const auto rows = core.list.rows();
    services.savePaths << file;
    QTest::mouseClick(panel.export_button(), Qt::LeftButton);
    QCOMPARE(services.filters, QStringList{filter});
    QCOMPARE(services.suffixes, QStringList{QStringLiteral("txt")});
    QCOMPARE(services.messages.size(), 1);
    QCOMPARE(services.messages.last().title, QStringLiteral("信息："));
    QCOMPARE(services.messages.last().text, QStringLiteral("宝贝列表已经成功导出！"));

    core.list.delete_all();
    QTRY_COMPARE(panel.model()->rowCount(), 0);
    services.openPaths << file;
    QTest::mouseClick(bar.import_button(), Qt::LeftButton);
    QCOMPARE(services.filters, (QStringList{filter, filter}));
    QCOMPARE(services.suffixes, (QStringList{QStringLiteral("txt"), QStringLiteral("txt")}));
    // The first dialog opens in the program folder, the next where the list went.
    QCOMPARE(services.folders, (QStringList{home.path(), home.path() + QStringLiteral("/lists")}));
    QCOMPARE(services.messages.size(), 2);
    QCOMPARE(services.messages.last().title, QStringLiteral("温馨提示："));
    QCOMPARE(services.messages.last().text, QStringLiteral("导入 3 个宝贝，0 行无法识别。"));
    QVERIFY(services.questions.isEmpty());  // nothing was in the list to ask about
    const auto back = core.list.rows();
    QCOMPARE(back.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(back[i].title, rows[i].title);
        QCOMPARE(back[i].price, rows[i].price);
        QCOMPARE(back[i].address, rows[i].address);
        QCOMPARE(back[i].offerId, rows[i].offerId);
    }
    QTRY_COMPARE(panel.model()->rowCount(), 3);
    QCOMPARE(column(panel, vq::kTitleColumn), core_column(core, vq::kTitleColumn));
    QCOMPARE(panel.count_label()->text(), QStringLiteral("3"));

    // Onto rows already there the user chooses: 否 adds, and the same ids are not added twice.
    services.openPaths << file;
    services.confirmAnswer = false;
    bar.import_list();
    QCOMPARE(services.questions.size(), 1);
    QVERIFY(services.questions.last().text.startsWith(QStringLiteral("列表中已有 3 个宝贝。")));
    QCOMPARE(services.messages.last().text,
             QStringLiteral("导入 3 个宝贝，0 行无法识别，3 个重复的宝贝未添加。"));
    QCOMPARE(core.list.row_count(), 3);

    // A cancelled dialog leaves the list alone and asks nothing.
    bar.import_list();
    QCOMPARE(core.list.row_count(), 3);
    QCOMPARE(services.messages.size(), 3);
    QCOMPARE(services.questions.size(), 1);
}

void CollectPageTest::copyAndOpenUseCurrentRow() {
    guitest::TempHome home;
    guitest::RecordingServices services;
    vq::gui::WindowCore core(home.gbk());
    ListPanel panel(core, services);
    core.list.append_rows({entry(QStringLiteral("甲"), "1"), entry(QStringLiteral("乙"), "2")});
    QTRY_COMPARE(panel.model()->rowCount(), 2);
    QClipboard* clipboard = QGuiApplication::clipboard();

    clipboard->setText(QStringLiteral("旧内容"));
    QCOMPARE(panel.current_row(), -1);
    panel.copy_title();
    QCOMPARE(clipboard->text(), QString());
    panel.open_address();
    QVERIFY(services.opened.isEmpty());

    select_rows(panel, {1});
    panel.copy_title();
    QCOMPARE(clipboard->text(), QStringLiteral("乙"));
    panel.copy_address();
    QCOMPARE(clipboard->text(), QStringLiteral("http://detail.localhost/offer/2.html"));
    panel.open_address();
    QCOMPARE(services.opened, QList<QUrl>{QUrl(QStringLiteral("http://detail.localhost/offer/2.html"))});

    // Only web addresses reach the desktop's opener; the rest are refused with a message.
    const struct {
        QString address;
        bool opens;
    } cases[] = {
        {QStringLiteral("https://detail.localhost/offer/3.html"), true},
        {QStringLiteral("HTTP://detail.localhost/offer/4.html"), true},
        {QStringLiteral("/etc/passwd"), false},
        {QStringLiteral("file:///etc/passwd"), false},
        {QStringLiteral("smb://server/share"), false},
        {QStringLiteral("javascript:alert(1)"), false},
        {QStringLiteral("http://"), false},
    };
    for (const auto& c : cases) {
        core.list.delete_all();
        core.list.append_row({"t", "1", gbk_text(c.address), "9"});
        QTRY_COMPARE(panel.model()->rowCount(), 1);
        select_rows(panel, {0});
        services.opened.clear();
        services.messages.clear();
        panel.open_address();
        QCOMPARE(services.opened.size(), c.opens ? 1 : 0);
        if (c.opens) continue;
        QCOMPARE(services.messages.size(), 1);
        QCOMPARE(services.messages.first().text, QStringLiteral("只能打开网页地址"));
    }

    services.opened.clear();
    panel.open_in_spreadsheet();
    QCOMPARE(services.opened.size(), 1);
    QVERIFY(services.opened.last().isLocalFile());
    QVERIFY(QFileInfo::exists(services.opened.last().toLocalFile()));
}

QTEST_MAIN(CollectPageTest)
#include "collect_page_test.moc"
