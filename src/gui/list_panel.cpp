#include "gui/list_panel.hpp"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMetaObject>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>
#include <mutex>

#include "app/list_commands.hpp"
#include "model/list_file.hpp"
#include "model/product_list.hpp"
#include "support/files.hpp"
#include "support/gbk_literal.hpp"
#include "gui/qt_text.hpp"
#include "gui/window_core.hpp"
#include "gui/window_services.hpp"

namespace vq::gui {

// The list reports changes on the changing thread, possibly while the model is being
// destroyed; the relay forgets the model under its lock.
struct ProductListModel::ChangeRelay {
    std::mutex mutex;
    ProductListModel* model = nullptr;

    void list_changed() {
        std::lock_guard lock(mutex);
        if (!model) return;
        // One refresh per batch: readers append row by row, the view catches up at once.
        if (model->refreshQueued_.exchange(true)) return;
        ProductListModel* target = model;
        QMetaObject::invokeMethod(target, [target] { target->refresh(); }, Qt::QueuedConnection);
    }
};

namespace {

const QString kListFilter = QStringLiteral("宝贝列表文件(*.txt)|*.txt");

struct ColumnInfo {
    const char16_t* header;
    int width;
};

constexpr ColumnInfo kColumns[] = {
    {u"名称", 500},
    {u"价格", 100},
    {u"宝贝地址", 50},
    {u"ID", 100},
};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

bool same_row(const ProductEntry& a, const ProductEntry& b) {
    return a.title == b.title && a.price == b.price && a.address == b.address &&
           a.offerId == b.offerId;
}

const std::string& column_text(const ProductEntry& row, int column) {
    switch (column) {
        case kTitleColumn:
            return row.title;
        case kPriceColumn:
            return row.price;
        case kAddressColumn:
            return row.address;
        default:
            return row.offerId;
    }
}

}  // namespace

ProductListModel::ProductListModel(WindowCore& core, QObject* parent)
    : QAbstractTableModel(parent), core_(core), relay_(std::make_shared<ChangeRelay>()) {
    relay_->model = this;
    core_.list.set_change_callback([relay = relay_] { relay->list_changed(); });
    rows_ = core_.list.rows();
}

ProductListModel::~ProductListModel() {
    core_.list.set_change_callback(nullptr);
    std::lock_guard lock(relay_->mutex);
    relay_->model = nullptr;
}

int ProductListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ProductListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ProductListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size()) ||
        index.column() >= kColumnCount) {
        return {};
    }
    const ProductEntry& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole: {
            // The address column is narrow; its text shows in full on hover.
            if (role == Qt::ToolTipRole && index.column() != kAddressColumn &&
                index.column() != kTitleColumn) {
                return {};
            }
            const QString text = qt_text(column_text(row, index.column()));
            // Only shown decoded: the list and its file keep the title as the page gave it.
            return index.column() == kTitleColumn ? readable_title(text) : text;
        }
        default:
            return {};
    }
}

QVariant ProductListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kColumnCount) {
        return {};
    }
    return QString::fromUtf16(kColumns[section].header);
}

void ProductListModel::refresh() {
    // Cleared before reading, so a change after the read queues the next refresh.
    refreshQueued_.store(false);
    std::vector<ProductEntry> rows = core_.list.rows();
    const std::size_t old = rows_.size();
    const bool grown = rows.size() > old &&
                       std::equal(rows_.begin(), rows_.end(), rows.begin(), same_row);
    if (grown) {
        // Appending keeps the selection and the scroll position while readers add rows.
        beginInsertRows({}, static_cast<int>(old), static_cast<int>(rows.size()) - 1);
        rows_ = std::move(rows);
        endInsertRows();
    } else if (rows.size() == old && std::equal(rows_.begin(), rows_.end(), rows.begin(), same_row)) {
        return;
    } else {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    }
    emit rowCountChanged(static_cast<int>(rows_.size()));
    emit changed();
}

ListPanel::ListPanel(WindowCore& core, WindowServices& services, QWidget* parent)
    : QWidget(parent), core_(core), services_(services) {
    model_ = new ProductListModel(core_, this);

    view_ = new QTreeView(this);
    view_->setModel(model_);
    view_->setRootIsDecorated(false);
    view_->setUniformRowHeights(true);
    view_->setAlternatingRowColors(true);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setAllColumnsShowFocus(true);
    view_->setContextMenuPolicy(Qt::CustomContextMenu);
    // The address takes the room the others leave, so it reads whole in a wide window;
    // price and id are as wide as their longest values, the title as the user drags it.
    QHeaderView* header = view_->header();
    header->setStretchLastSection(false);
    for (int column = 0; column < kColumnCount; ++column) {
        view_->setColumnWidth(column, kColumns[column].width);
    }
    const QFontMetrics metrics(view_->font());
    const int padding = 2 * view_->style()->pixelMetric(QStyle::PM_HeaderMargin) + 12;
    // The longest title the platform takes is 30 Chinese characters.
    view_->setColumnWidth(kTitleColumn, std::min(kColumns[kTitleColumn].width,
                                                 metrics.horizontalAdvance(QString(30, QChar(0x6C49))) + padding));
    view_->setColumnWidth(kPriceColumn, std::max(kColumns[kPriceColumn].width,
                                                 metrics.horizontalAdvance(QStringLiteral("999999.99")) + padding));
    view_->setColumnWidth(kIdColumn, std::max(kColumns[kIdColumn].width,
                                              metrics.horizontalAdvance(QStringLiteral("0000000000000")) + padding));
    header->setSectionResizeMode(kAddressColumn, QHeaderView::Stretch);

    auto* caption = new QLabel(QStringLiteral("宝贝数："), this);
    count_ = new QLabel(QString::number(model_->rowCount()), this);
    count_->setMinimumWidth(40);
    QFont countFont = count_->font();
    countFont.setBold(true);
    count_->setFont(countFont);
    export_ = new QPushButton(QStringLiteral("导出列表"), this);
    clear_ = new QPushButton(QStringLiteral("清空"), this);
    delete_ = new QPushButton(QStringLiteral("删除"), this);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(6);
    bar->addWidget(caption);
    bar->addWidget(count_);
    bar->addStretch(1);
    bar->addWidget(export_);
    bar->addWidget(clear_);
    bar->addWidget(delete_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(view_, 1);
    layout->addLayout(bar);

    menu_ = new QMenu(this);
    connect(menu_->addAction(QStringLiteral("导出宝贝列表")), &QAction::triggered, this,
            &ListPanel::export_list);
    connect(menu_->addAction(QStringLiteral("用IE打开宝贝链接")), &QAction::triggered, this,
            &ListPanel::open_address);
    connect(menu_->addAction(QStringLiteral("用EXCEL打开宝贝列表")), &QAction::triggered, this,
            &ListPanel::open_in_spreadsheet);
    menu_->addSeparator();
    connect(menu_->addAction(QStringLiteral("复制宝贝地址")), &QAction::triggered, this,
            &ListPanel::copy_address);
    connect(menu_->addAction(QStringLiteral("复制宝贝名称")), &QAction::triggered, this,
            &ListPanel::copy_title);
    connect(menu_->addAction(QStringLiteral("删除选中宝贝")), &QAction::triggered, this,
            &ListPanel::delete_selected);
    menu_->addSeparator();

    connect(view_, &QTreeView::customContextMenuRequested, this, [this](const QPoint& pos) {
        menu_->popup(view_->viewport()->mapToGlobal(pos));
    });
    connect(model_, &ProductListModel::rowCountChanged, count_,
            [this](int rows) { count_->setText(QString::number(rows)); });
    connect(export_, &QPushButton::clicked, this, &ListPanel::export_list);
    connect(clear_, &QPushButton::clicked, this, &ListPanel::clear_list);
    connect(delete_, &QPushButton::clicked, this, &ListPanel::delete_selected);
}

ListPanel::~ListPanel() {
    save_kept_list();
}

void ListPanel::keep_list() {
    if (saveTimer_) return;
    // The list of the last session: a shop read of many pages is not to be lost to a
    // restart.
    const std::string kept = core_.kept_list_path();
    if (file_exists(kept)) {
        if (std::optional<std::vector<ProductEntry>> rows = read_list_file(kept)) {
            const std::size_t count = rows->size();
            core_.list.replace_all(std::move(*rows));
            core_.log.append_log(log_time_stamp(core_.clock ? *core_.clock : system_clock()) +
                                 "  已恢复上次的宝贝列表："_gbk + std::to_string(count) +
                                 " 个宝贝\r\n"_gbk);
        }
    }
    saveTimer_ = new QTimer(this);
    saveTimer_->setSingleShot(true);
    saveTimer_->setInterval(500);
    connect(saveTimer_, &QTimer::timeout, this, [this] { write_kept_list(); });
    connect(model_, &ProductListModel::changed, saveTimer_, qOverload<>(&QTimer::start));
}

QByteArray ListPanel::column_state() const {
    return view_->header()->saveState();
}

bool ListPanel::restore_columns(const QByteArray& state) {
    QHeaderView* header = view_->header();
    const QByteArray before = header->saveState();
    if (!header->restoreState(state) || header->count() != kColumnCount) {
        header->restoreState(before);
        return false;
    }
    // Whatever was saved, the address keeps taking the room that is left.
    header->setStretchLastSection(false);
    header->setSectionResizeMode(kAddressColumn, QHeaderView::Stretch);
    return true;
}

void ListPanel::save_kept_list() {
    if (!saveTimer_ || !saveTimer_->isActive()) return;
    saveTimer_->stop();
    write_kept_list();
}

void ListPanel::write_kept_list() {
    const std::string path = core_.kept_list_path();
    make_directory(core_.programFolder + "/options");
    if (!write_list_file(path, core_.list.rows())) {
        core_.log.append_log(log_time_stamp(core_.clock ? *core_.clock : system_clock()) +
                             "  宝贝列表无法保存："_gbk + path + "\r\n");
    }
}

void ListPanel::export_list() {
    if (core_.list.row_count() == 0) return;
    const QString path =
        services_.save_file_name(this, kListFilter, QStringLiteral("txt"), list_folder(core_));
    if (path.isEmpty()) return;
    core_.listFolder = QFileInfo(path).absolutePath();
    const ListCommandResult result = vq::export_list(core_.list, gbk_text(path));
    if (result.message.empty()) return;
    services_.message(this, result.title.empty() ? QStringLiteral("提示") : qt_text(result.title),
                      qt_text(result.message));
}

void ListPanel::clear_list() {
    const int rows = core_.list.row_count();
    if (rows == 0) return;
    if (!services_.confirm(this, QStringLiteral("提示"),
                           QStringLiteral("确定清空列表中的 %1 个宝贝吗？").arg(rows))) {
        return;
    }
    core_.list.delete_all();
}

void ListPanel::delete_selected() {
    const std::vector<int> selected = selected_positions();
    if (selected.size() > 1 &&
        !services_.confirm(this, QStringLiteral("提示"),
                           QStringLiteral("确定删除选中的 %1 个宝贝吗？").arg(selected.size()))) {
        return;
    }
    vq::delete_selected(core_.list, selected);
}

void ListPanel::open_address() {
    const std::string address = core_.list.field(current_row(), kAddressColumn);
    if (address.empty()) return;
    // Addresses come from imported files and listing pages: a path, "file:", "smb:" or
    // "javascript:" must not reach the desktop's opener.
    const QUrl url = QUrl::fromUserInput(qt_text(address).trimmed());
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty()) {
        services_.message(this, QStringLiteral("提示"), QStringLiteral("只能打开网页地址"));
        return;
    }
    services_.open_url(url);
}

void ListPanel::open_in_spreadsheet() {
    const SpreadsheetResult result = write_list_spreadsheet(core_.list.rows(), core_.programFolder);
    if (result.ok) {
        services_.open_url(QUrl::fromLocalFile(qt_text(result.path)));
        return;
    }
    if (result.message.empty()) return;
    services_.message(this, result.title.empty() ? QStringLiteral("提示") : qt_text(result.title),
                      qt_text(result.message));
}

void ListPanel::copy_address() {
    QGuiApplication::clipboard()->setText(
        qt_text(core_.list.field(current_row(), kAddressColumn)));
}

void ListPanel::copy_title() {
    QGuiApplication::clipboard()->setText(qt_text(core_.list.field(current_row(), kTitleColumn)));
}

std::vector<int> ListPanel::selected_positions() const {
    std::vector<int> positions;
    for (const QModelIndex& index : view_->selectionModel()->selectedRows()) {
        positions.push_back(index.row());
    }
    std::sort(positions.begin(), positions.end());
    return positions;
}

int ListPanel::current_row() const {
    const QModelIndex current = view_->currentIndex();
    if (!current.isValid()) return -1;
    return view_->selectionModel()->isRowSelected(current.row(), {}) ? current.row() : -1;
}

}  // namespace vq::gui
