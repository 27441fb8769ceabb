// vq-screenshots --out DIR: opens the window against the stand-in marketplace, fills the
// list from a shop, runs a copy to completion and saves pictures of each state as PNGs.
// Meant for a virtual display (xvfb-run); any display works.

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QItemSelectionModel>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtCore/qtestsupport_core.h>

#include <cstdio>
#include <functional>

#include "api/api_token.hpp"
#include "api/site_settings.hpp"
#include "gui/watch_window.hpp"
#include "model/product_list.hpp"
#include "support/gbk_literal.hpp"
#include "gui/address_bar.hpp"
#include "gui/list_panel.hpp"
#include "gui/main_window.hpp"
#include "gui/qt_text.hpp"
#include "gui/run_panel.hpp"
#include "gui/api_auth_group.hpp"
#include "gui/settings_page.hpp"
#include "gui/startup.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "net/http_client.hpp"
#include "support/files.hpp"

namespace {

using vq::operator""_gbk;

// Message boxes would wait for a click nobody makes: print them instead.
class PrintingServices : public vq::gui::DesktopServices {
public:
    void message(QWidget*, const QString& title, const QString& text) override {
        std::fprintf(stderr, "message [%s] %s\n", qPrintable(title), qPrintable(text));
    }
    bool open_url(const QUrl& url) override {
        std::fprintf(stderr, "open %s\n", qPrintable(url.toString()));
        return true;
    }
};

bool fail(const char* what) {
    std::fprintf(stderr, "vq-screenshots: %s\n", what);
    return false;
}

bool wait_for(const std::function<bool()>& done, int ms) {
    return QTest::qWaitFor(done, ms);
}

void settle() {
    QTest::qWait(250);
}

bool save(const QPixmap& picture, const QString& folder, const QString& name) {
    const QString path = folder + QLatin1Char('/') + name;
    if (!picture.save(path)) return fail("cannot write a picture");
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool take(const QString& out) {
    vq::sim::MarketplaceSim sim;
    vq::sim::SimOptions options;
    options.shops = 4;
    options.productsPerShop = 40;
    options.latencyMs = 40;  // slow enough to catch the run in progress
    if (sim.start(options) <= 0) return fail("the stand-in marketplace did not start");

    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("options"));
    const std::string folder = vq::gui::gbk_text(home.path());
    const std::string ini = folder + "/options/site.ini";
    if (!vq::write_file_atomic(ini, sim.site_ini())) return fail("cannot write site.ini");
    vq::set_site_settings(vq::load_site_settings(ini));

    // A plain desktop behind the windows: a virtual display's root is black.
    QWidget desktop;
    desktop.setStyleSheet(QStringLiteral(
        "background: qlineargradient(x1:0, y1:0, x2:1, y2:1, stop:0 #5b7f99, stop:1 #c9d8e2);"));
    desktop.setGeometry(QGuiApplication::primaryScreen()->geometry());
    desktop.show();

    PrintingServices services;
    vq::gui::WindowCore core(folder);
    vq::gui::MainWindow window(core, services);
    vq::gui::StartupSequence startup(core, window, services);
    startup.set_pin_processor(false);
    bool started = false, ok = false;
    QObject::connect(&startup, &vq::gui::StartupSequence::finished, [&](bool good) {
        started = true;
        ok = good;
    });
    startup.start();
    settle();
    if (!save(startup.start_window()->grab(), out, QStringLiteral("start-window.png"))) return false;
    if (!wait_for([&] { return started; }, 20000) || !ok) return fail("start-up failed");
    window.move(0, 0);
    settle();
    if (!save(window.grab(), out, QStringLiteral("home-page.png"))) return false;

    // Fill the list from shop 1.
    window.switch_page(4);
    auto* bar = window.address_bar();
    bar->fill_example();
    bar->add_to_list();
    if (!wait_for([&] { return !bar->adding() && core.list.row_count() >= 40; }, 60000)) {
        return fail("the shop was not read");
    }
    settle();
    auto* view = window.list_panel()->view();
    view->selectionModel()->select(
        view->model()->index(2, 0),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    settle();
    if (!save(window.grab(), out, QStringLiteral("collect-page.png"))) return false;
    window.collect_tabs()->setCurrentIndex(1);
    settle();
    if (!save(window.grab(), out, QStringLiteral("log-tab.png"))) return false;
    window.collect_tabs()->setCurrentIndex(0);

    window.switch_page(5);
    window.settings_page()->download_box()->setChecked(true);
    settle();
    if (!save(window.grab(), out, QStringLiteral("settings-page.png"))) return false;
    // "接口与授权" with a token kept, as after `vq auth` or 完成授权.
    {
        vq::ApiToken token;
        token.appKey = sim.catalogue().keys().front().appkey;
        token.accessToken = "shown-nowhere";
        token.refreshToken = "shown-nowhere-either";
        token.accessExpires = vq::epoch_seconds_now() + 36000;
        token.refreshExpires = vq::epoch_seconds_now() + 180 * 86400;
        token.resourceOwner = "velmora_shop";
        vq::save_api_token(vq::api_token_path(folder), token);
        auto* group = window.settings_page()->api_auth_group();
        group->load();
        group->profile_box()->setCurrentIndex(1);
        group->reply_box()->setText(QStringLiteral("http://localhost/vq-callback?code=…&state=…"));
        settle();
        if (!save(group->grab(), out, QStringLiteral("settings-api.png"))) return false;
        group->profile_box()->setCurrentIndex(0);
        group->reply_box()->clear();
    }
    window.switch_page(6);
    settle();
    if (!save(window.grab(), out, QStringLiteral("help-page.png"))) return false;

    // The copy run, with one product the marketplace no longer has, so the completion window
    // offers to retry it.
    core.list.append_row({"已下架的宝贝"_gbk, "9.90", "http://detail.1688.com/offer/1.html", "1"});
    window.switch_page(4);
    QDir(home.path()).mkpath(QStringLiteral("package"));
    window.run_panel()->apply_output_path(home.path() + QStringLiteral("/package/shop1.csv"));
    window.run_panel()->start_run();
    auto* progress = window.run_panel()->progress_bar();
    if (!wait_for([&] { return progress->value() >= 12; }, 60000)) return fail("the run stalled");
    if (!save(window.grab(), out, QStringLiteral("run-in-progress.png"))) return false;
    if (!wait_for([&] {
            auto* done = window.run_panel()->completion_window();
            return done && done->isVisible();
        }, 120000)) {
        return fail("the run did not complete");
    }
    settle();
    settle();
    QScreen* screen = window.screen();
    if (!save(screen->grabWindow(0), out, QStringLiteral("completion.png"))) return false;
    window.run_panel()->completion_window()->close();

    // The supplier changes a few offers; 检查货源变化 finds them.
    const auto& products = sim.catalogue().products();
    sim.change_offer(products[1].offerId, vq::sim::OfferChange::PriceUp);
    sim.change_offer(products[3].offerId, vq::sim::OfferChange::Stock);
    sim.change_offer(products[4].offerId, vq::sim::OfferChange::SkuAdded);
    sim.change_offer(products[6].offerId, vq::sim::OfferChange::TakenDown);
    window.run_panel()->start_watch();
    if (!wait_for([&] {
            auto* changes = window.run_panel()->changes_window();
            return changes && changes->isVisible();
        }, 120000)) {
        return fail("the watch did not end");
    }
    settle();
    settle();
    if (!save(window.run_panel()->changes_window()->grab(), out, QStringLiteral("changes.png"))) return false;
    core.stop_background_work();
    sim.stop();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    vq::init_http();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    vq::gui::apply_application_look(app);
    QCommandLineParser parser;
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder for the PNGs."),
                                 QStringLiteral("DIR"), QStringLiteral("docs/screenshots"));
    parser.addOption(out);
    parser.process(app);
    const QString folder = parser.value(out);
    QDir().mkpath(folder);
    return take(folder) ? 0 : 1;
}
