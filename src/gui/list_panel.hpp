#pragma once
// The product list as the window shows it: a view mirroring the core's ProductList (four
// columns "名称", "价格", "宝贝地址", "ID"), the "宝贝数：" count, "导出列表", "清空", "删除",
// and the context menu with its seven items.

#include <QAbstractTableModel>
#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

#include "model/batch_model.hpp"

class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QTreeView;

namespace vq::gui {

class WindowCore;
class WindowServices;

// Mirrors the core list. Changes may come from any thread; the model refreshes on the GUI
// thread, at most once per batch of changes.
class ProductListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    ProductListModel(WindowCore& core, QObject* parent = nullptr);
    ~ProductListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Takes the core list's rows now (GUI thread).
    void refresh();

signals:
    void rowCountChanged(int rows);
    // The rows shown changed in any way.
    void changed();

private:
    struct ChangeRelay;

    WindowCore& core_;
    std::vector<ProductEntry> rows_;
    std::atomic<bool> refreshQueued_{false};
    // Shared with the list's change callback, which may still run on another thread while
    // this model is destroyed.
    std::shared_ptr<ChangeRelay> relay_;
};

class ListPanel : public QWidget {
    Q_OBJECT
public:
    ListPanel(WindowCore& core, WindowServices& services, QWidget* parent = nullptr);
    ~ListPanel() override;

    // Keeps the list across restarts: loads the program folder's options/list.txt now, and
    // from here on writes the list back there (in one step) once changes settle and when
    // the panel goes.
    void keep_list();
    // Writes the kept list now when a change waits for it.
    void save_kept_list();
    // The columns' widths as the user left them, and back (false for a state that does not fit).
    QByteArray column_state() const;
    bool restore_columns(const QByteArray& state);

    void export_list();          // "导出列表"
    void clear_list();           // "清空"
    void delete_selected();      // "删除", "删除选中宝贝"
    void open_address();         // "用IE打开宝贝链接"
    void open_in_spreadsheet();  // "用EXCEL打开宝贝列表"
    void copy_address();         // "复制宝贝地址"
    void copy_title();           // "复制宝贝名称"

    // Selected rows, top to bottom; the current row (-1 when none).
    std::vector<int> selected_positions() const;
    int current_row() const;

    ProductListModel* model() const { return model_; }
    QTreeView* view() const { return view_; }
    QLabel* count_label() const { return count_; }
    QPushButton* export_button() const { return export_; }
    QPushButton* clear_button() const { return clear_; }
    QPushButton* delete_button() const { return delete_; }
    QMenu* context_menu() const { return menu_; }

private:
    WindowCore& core_;
    WindowServices& services_;
    ProductListModel* model_ = nullptr;
    QTreeView* view_ = nullptr;
    QLabel* count_ = nullptr;
    QPushButton* export_ = nullptr;
    QPushButton* clear_ = nullptr;
    QPushButton* delete_ = nullptr;
    QMenu* menu_ = nullptr;
    QTimer* saveTimer_ = nullptr;  // made by keep_list()

    void write_kept_list();
};

}  // namespace vq::gui
