#pragma once
// What the window tests share: a recording stand-in for the desktop's dialogs, and a
// program folder pointed at the stand-in marketplace.

#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <string>
#include <vector>

#include "api/site_settings.hpp"
#include "model/batch_model.hpp"
#include "gui/qt_text.hpp"
#include "gui/window_services.hpp"
#include "marketplace-sim/marketplace_sim.hpp"
#include "net/http_client.hpp"
#include "support/encoding.hpp"
#include "support/files.hpp"

namespace guitest {

// Message boxes are recorded, file dialogs answer from queues (empty queue = cancel),
// opened addresses are recorded.
class RecordingServices : public vq::gui::WindowServices {
public:
    struct Message {
        QString title;
        QString text;
    };

    void message(QWidget*, const QString& title, const QString& text) override {
        messages.append({title, text});
    }
    bool confirm(QWidget*, const QString& title, const QString& text) override {
        questions.append({title, text});
        return confirmAnswer;
    }
    QString save_file_name(QWidget*, const QString& filter, const QString& suffix,
                           const QString& folder) override {
        filters.append(filter);
        suffixes.append(suffix);
        folders.append(folder);
        return savePaths.isEmpty() ? QString() : savePaths.takeFirst();
    }
    QString open_file_name(QWidget*, const QString& filter, const QString& suffix,
                           const QString& folder) override {
        filters.append(filter);
        suffixes.append(suffix);
        folders.append(folder);
        return openPaths.isEmpty() ? QString() : openPaths.takeFirst();
    }
    bool open_url(const QUrl& url) override {
        opened.append(url);
        return true;
    }

    QList<Message> messages;
    QList<Message> questions;    // confirmations asked, answered with confirmAnswer
    bool confirmAnswer = true;
    QStringList savePaths;  // answers of the next save dialogs
    QStringList openPaths;  // answers of the next open dialogs
    QStringList filters;    // filters the dialogs were given
    QStringList suffixes;
    QStringList folders;  // where each file dialog opened
    QList<QUrl> opened;
};

// A program folder (with its "options" folder) in a temporary directory.
struct TempHome {
    TempHome() { QDir(dir.path()).mkpath(QStringLiteral("options")); }
    QString path() const { return dir.path(); }
    std::string gbk() const { return vq::gui::gbk_text(dir.path()); }
    QString file(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    QTemporaryDir dir;
};

// The stand-in marketplace on a free port, with the site settings pointing at it (also
// written to the home's options/site.ini).
struct SimHome : TempHome {
    bool start(vq::sim::SimOptions options = {}) {
        vq::init_http();
        if (sim.start(options) <= 0) return false;
        const std::string ini = gbk() + "/options/site.ini";
        if (!vq::write_file_atomic(ini, sim.site_ini())) return false;
        vq::set_site_settings(vq::load_site_settings(ini));
        return true;
    }
    ~SimHome() {
        sim.stop();
        vq::set_site_settings(vq::SiteSettings{});
    }
    // The stand-in's key pairs, as start-up would have read them.
    std::vector<vq::ApiCredential> key_pairs() const {
        std::vector<vq::ApiCredential> pairs;
        for (const auto& key : sim.catalogue().keys()) pairs.push_back({key.appkey, key.appsecret});
        return pairs;
    }
    // http://shopN.localhost:PORT/
    QString shop_address(int n) const {
        return QStringLiteral("http://shop%1.localhost:%2/").arg(n).arg(sim.port());
    }
    vq::sim::MarketplaceSim sim;
};

}  // namespace guitest
