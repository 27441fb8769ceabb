#pragma once
// The navigation strip across the top of the main window: seven painted picture items
// with captions. Items 1 to 6 switch pages (the current one is highlighted); item 7 exits.

#include <QWidget>

namespace vq::gui {

class NavStrip : public QWidget {
    Q_OBJECT
public:
    explicit NavStrip(QWidget* parent = nullptr);

    static QString caption(int item);  // item 1 to 7
    // Highlights item 1 to 6 (0: none).
    void set_current(int item);
    int current() const { return current_; }
    // Where item 1 to 7 sits, for tests that click it.
    QRect item_rect(int item) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void itemClicked(int item);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    int item_at(const QPoint& point) const;
    int current_ = 0;
    int hovered_ = 0;
};

}  // namespace vq::gui
