#include "gui/settings_page.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

namespace vq::gui {

SettingsPage::SettingsPage(WindowCore& core, WindowServices& services, QWidget* parent)
    : QWidget(parent), core_(core), services_(services) {}

void SettingsPage::load_options() {}
void SettingsPage::save_options() {}

}  // namespace vq::gui
