#include "gui/pictures.hpp"

namespace vq::gui {

QPixmap navigation_picture(int, int size) {
    QPixmap p(size, size);
    p.fill(Qt::gray);
    return p;
}

QIcon application_icon() {
    return QIcon(navigation_picture(1, 32));
}

QPixmap banner_picture(const QSize& size) {
    QPixmap p(size);
    p.fill(Qt::darkCyan);
    return p;
}

}  // namespace vq::gui
