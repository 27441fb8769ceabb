#include "gui/info_pages.hpp"

#include <QTextBrowser>

namespace vq::gui {

HomePage::HomePage(QWidget* parent) : QWidget(parent) {}

HelpPage::HelpPage(WindowServices&, QWidget* parent) : QWidget(parent) {}

}  // namespace vq::gui
