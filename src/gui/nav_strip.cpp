#include "gui/nav_strip.hpp"

#include <QMouseEvent>
#include <QPainter>

namespace vq::gui {

NavStrip::NavStrip(QWidget* parent) : QWidget(parent) {}

QString NavStrip::caption(int item) {
    return QString::number(item);
}

void NavStrip::set_current(int item) {
    current_ = item;
    update();
}

QRect NavStrip::item_rect(int item) const {
    return QRect((item - 1) * 80, 0, 80, 80);
}

QSize NavStrip::sizeHint() const { return {560, 80}; }
QSize NavStrip::minimumSizeHint() const { return {560, 80}; }

void NavStrip::paintEvent(QPaintEvent*) {}

void NavStrip::mousePressEvent(QMouseEvent* event) {
    if (const int item = item_at(event->position().toPoint())) emit itemClicked(item);
}

void NavStrip::mouseMoveEvent(QMouseEvent*) {}
void NavStrip::leaveEvent(QEvent*) {}

int NavStrip::item_at(const QPoint& point) const {
    for (int i = 1; i <= 7; ++i) {
        if (item_rect(i).contains(point)) return i;
    }
    return 0;
}

}  // namespace vq::gui
