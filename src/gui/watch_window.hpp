#pragma once
// "检查货源变化": a watch of the package's supplier, run off the window's thread, and the
// window that shows what changed ("货源变化"), with "更新数据包" and "导出".

#include <QWidget>

#include <thread>

#include "net/http_client.hpp"
#include "run/supplier_watch.hpp"

class QLabel;
class QPushButton;
class QTableWidget;

namespace vq::gui {

// One watch. Its reports come to the window's thread as queued signals; destroying it stops
// the watch and waits for its workers.
class SupplierWatchJob : public QObject {
    Q_OBJECT
public:
    SupplierWatchJob(std::vector<SourceEntry> entries, WatchPorts ports, QObject* parent = nullptr);
    ~SupplierWatchJob() override;

    void start();
    void set_paused(bool paused);
    bool paused() const { return token_.is_held(); }
    void stop() { token_.cancel(); }
    // After finished.
    const WatchReport& report() const { return report_; }
    const std::vector<SourceEntry>& entries() const { return entries_; }

signals:
    void progress(int done, int total);
    void finished();

private:
    std::vector<SourceEntry> entries_;
    WatchPorts ports_;
    CancelToken token_;
    WatchReport report_;
    std::thread thread_;
};

// Not modal; one row per product and kind of change.
class ChangesWindow : public QWidget {
    Q_OBJECT
public:
    explicit ChangesWindow(QWidget* parent = nullptr);
    // summary: the watch's summary line; updatable: changes an update would write.
    void show_report(const WatchReport& report, const QString& summary, bool updatable);

    QLabel* summary_label() const { return summary_; }
    QTableWidget* table() const { return table_; }  // 宝贝, 变化, 原来, 现在
    QPushButton* update_button() const { return update_; }
    QPushButton* export_button() const { return export_; }
    QPushButton* close_button() const { return close_; }

signals:
    void updateRequested();
    void exportRequested();

private:
    QLabel* summary_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* update_ = nullptr;
    QPushButton* export_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace vq::gui
