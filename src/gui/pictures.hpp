#pragma once
// The program's own pictures, painted in code: navigation strip items, window and tray
// icon, the banner of the start window and the page headers.

#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace vq::gui {

// Item 1 to 7 of the navigation strip, size x size pixels (device-independent).
QPixmap navigation_picture(int item, int size);

// Window and notification-area icon.
QIcon application_icon();

// A wide banner with the program's name.
QPixmap banner_picture(const QSize& size);

}  // namespace vq::gui
