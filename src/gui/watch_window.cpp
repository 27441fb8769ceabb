#include "gui/watch_window.hpp"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vq::gui {

SupplierWatchJob::SupplierWatchJob(std::vector<SourceEntry> entries, WatchPorts ports, QObject* parent)
    : QObject(parent), entries_(std::move(entries)), ports_(std::move(ports)) {
    ports_.token = &token_;
    ports_.progress = [this](int done, int total) { emit progress(done, total); };
}

SupplierWatchJob::~SupplierWatchJob() {
    token_.cancel();
    if (thread_.joinable()) thread_.join();
}

void SupplierWatchJob::start() {
    thread_ = std::thread([this] {
        report_ = watch_supplier(entries_, ports_);
        emit finished();
    });
}

void SupplierWatchJob::set_paused(bool paused) { token_.set_held(paused); }

ChangesWindow::ChangesWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("changesWindow"));
    setWindowTitle(QStringLiteral("货源变化"));
    auto* layout = new QVBoxLayout(this);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    layout->addWidget(summary_);
    table_ = new QTableWidget(0, 4, this);
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("宝贝"), QStringLiteral("变化"), QStringLiteral("原来"), QStringLiteral("现在")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table_->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    layout->addWidget(table_, 1);
    auto* buttons = new QHBoxLayout;
    update_ = new QPushButton(QStringLiteral("更新数据包"), this);
    update_->setObjectName(QStringLiteral("updatePackage"));
    export_ = new QPushButton(QStringLiteral("导出"), this);
    export_->setObjectName(QStringLiteral("exportChanges"));
    close_ = new QPushButton(QStringLiteral("关闭"), this);
    buttons->addStretch(1);
    buttons->addWidget(update_);
    buttons->addWidget(export_);
    buttons->addWidget(close_);
    layout->addLayout(buttons);
    connect(update_, &QPushButton::clicked, this, &ChangesWindow::updateRequested);
    connect(export_, &QPushButton::clicked, this, &ChangesWindow::exportRequested);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    resize(760, 420);
}

void ChangesWindow::show_report(const WatchReport& report, const QString& summary, bool updatable) {
    summary_->setText(summary);
    table_->setRowCount(0);
    const auto add = [this](const ProductChange& c, const QString& kind, const QString& was,
                            const QString& now) {
        const int row = table_->rowCount();
        table_->insertRow(row);
        const QString product = QString::fromStdString(c.title) + QStringLiteral("（") +
                                QString::fromStdString(c.offerId) + QStringLiteral("）");
        const QString texts[] = {product, kind, was, now};
        for (int k = 0; k < 4; ++k) table_->setItem(row, k, new QTableWidgetItem(texts[k]));
    };
    const auto q = [](const std::string& utf8) { return QString::fromStdString(utf8); };
    for (const ProductChange& c : report.changes) {
        if (c.price) {
            add(c, QStringLiteral("价格"), q(c.priceOld),
                q(c.priceNew) + QStringLiteral("（售价 ") + q(c.listingPriceNew) + QStringLiteral("）"));
        }
        if (c.stock) add(c, QStringLiteral("库存"), q(c.stockOld), q(c.stockNew));
        if (c.skus) add(c, QStringLiteral("规格"), QString(), q(c.skuText));
        if (c.gone) add(c, QStringLiteral("下架"), QString(), q(c.reason));
        if (c.failed) add(c, QStringLiteral("失败"), QString(), q(c.reason));
    }
    table_->resizeColumnToContents(1);
    table_->resizeColumnToContents(2);
    update_->setEnabled(updatable);
    export_->setEnabled(!report.changes.empty());
    if (parentWidget()) {
        const QRect owner = parentWidget()->window()->frameGeometry();
        move(owner.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
}

}  // namespace vq::gui
