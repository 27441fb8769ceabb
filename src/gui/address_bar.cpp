#include "gui/address_bar.hpp"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace vq::gui {

AddressBar::AddressBar(WindowCore& core, WindowServices& services, QWidget* parent)
    : QWidget(parent), core_(core), services_(services) {}

AddressBar::~AddressBar() {
    stop();
}

void AddressBar::apply_page_switch(const PageSwitch&) {}
void AddressBar::on_address_box_pressed() {}
void AddressBar::on_address_box_left() {}
void AddressBar::fill_example() {}
void AddressBar::add_to_list() {}
void AddressBar::import_list() {}
void AddressBar::stop() {}
bool AddressBar::eventFilter(QObject* watched, QEvent* event) {
    return QWidget::eventFilter(watched, event);
}
void AddressBar::command_ended() {}
void AddressBar::readers_ended() {}
void AddressBar::update_add_button() {}

}  // namespace vq::gui
