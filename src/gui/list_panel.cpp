#include "gui/list_panel.hpp"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTreeView>

#include "gui/window_core.hpp"

namespace vq::gui {

ProductListModel::ProductListModel(WindowCore& core, QObject* parent)
    : QAbstractTableModel(parent), core_(core) {}
ProductListModel::~ProductListModel() = default;
int ProductListModel::rowCount(const QModelIndex&) const { return 0; }
int ProductListModel::columnCount(const QModelIndex&) const { return 4; }
QVariant ProductListModel::data(const QModelIndex&, int) const { return {}; }
QVariant ProductListModel::headerData(int, Qt::Orientation, int) const { return {}; }
void ProductListModel::refresh() {}

ListPanel::ListPanel(WindowCore& core, WindowServices& services, QWidget* parent)
    : QWidget(parent), core_(core), services_(services) {}

void ListPanel::export_list() {}
void ListPanel::clear_list() {}
void ListPanel::delete_selected() {}
void ListPanel::open_address() {}
void ListPanel::open_in_spreadsheet() {}
void ListPanel::copy_address() {}
void ListPanel::copy_title() {}
std::vector<int> ListPanel::selected_positions() const { return {}; }
int ListPanel::current_row() const { return -1; }

}  // namespace vq::gui
