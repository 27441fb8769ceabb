#include "gui/nav_strip.hpp"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "gui/pictures.hpp"

namespace vq::gui {

namespace {

constexpr int kItems = 7;
constexpr int kItemWidth = 86;
constexpr int kItemSpacing = 4;
constexpr int kMargin = 10;
constexpr int kExitGap = 24;  // at least this much room before "退出"
constexpr int kHeight = 88;
constexpr int kPicture = 42;

QString tool_tip(int item) {
    switch (item) {
        case 1: return QStringLiteral("开始页：使用步骤和快捷入口");
        case 2: return QStringLiteral("逐个输入宝贝地址采集");
        case 3: return QStringLiteral("采集店铺的一个分类或搜索列表");
        case 4: return QStringLiteral("采集整个店铺的所有宝贝");
        case 5: return QStringLiteral("图片选项和数据包格式");
        case 6: return QStringLiteral("使用说明");
        case 7: return QStringLiteral("退出程序");
        default: return {};
    }
}

}  // namespace

NavStrip::NavStrip(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("navigationStrip"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QString NavStrip::caption(int item) {
    switch (item) {
        case 1: return QStringLiteral("开始");
        case 2: return QStringLiteral("单品采集");
        case 3: return QStringLiteral("列表采集");
        case 4: return QStringLiteral("店铺采集");
        case 5: return QStringLiteral("配置");
        case 6: return QStringLiteral("帮助");
        case 7: return QStringLiteral("退出");
        default: return {};
    }
}

void NavStrip::set_current(int item) {
    const int next = item >= 1 && item < kItems ? item : 0;
    if (next == current_) return;
    current_ = next;
    update();
}

QRect NavStrip::item_rect(int item) const {
    if (item < 1 || item > kItems) return {};
    const int top = 4;
    const int height = kHeight - 2 * top;
    if (item == kItems) {
        // The exit item keeps to the right end, however wide the window is.
        const int minimumLeft = kMargin + (kItems - 1) * (kItemWidth + kItemSpacing) + kExitGap;
        return {qMax(minimumLeft, width() - kMargin - kItemWidth), top, kItemWidth, height};
    }
    return {kMargin + (item - 1) * (kItemWidth + kItemSpacing), top, kItemWidth, height};
}

QSize NavStrip::sizeHint() const {
    return {1000, kHeight};
}

QSize NavStrip::minimumSizeHint() const {
    return {kMargin + (kItems - 1) * (kItemWidth + kItemSpacing) + kExitGap + kItemWidth + kMargin,
            kHeight};
}

void NavStrip::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRect band = rect();

    QLinearGradient fill(band.topLeft(), band.bottomLeft());
    fill.setColorAt(0, QColor(0x1d, 0x5a, 0x84));
    fill.setColorAt(1, QColor(0x12, 0x38, 0x58));
    p.fillRect(band, fill);
    // A faint teal glow from the left keeps the band from looking flat.
    QLinearGradient glow(band.topLeft(), band.topRight());
    glow.setColorAt(0, QColor(0x17, 0xa2, 0x9e, 70));
    glow.setColorAt(0.55, QColor(0x17, 0xa2, 0x9e, 0));
    p.fillRect(band, glow);
    p.fillRect(QRect(0, band.bottom(), band.width(), 1), QColor(0x0b, 0x26, 0x3d));

    // The program's name in the free space before "退出", when there is room for it.
    const QRect exitRect = item_rect(kItems);
    const int freeLeft = item_rect(kItems - 1).right() + kExitGap;
    QFont brand = font();
    brand.setPixelSize(20);
    brand.setBold(true);
    const QFontMetrics brandMetrics(brand);
    const QString name = QStringLiteral("VelmoraQuillet");
    if (exitRect.left() - freeLeft >= brandMetrics.horizontalAdvance(name) + 90) {
        const int right = exitRect.left() - kExitGap;
        p.setFont(brand);
        p.setPen(QColor(255, 255, 255, 215));
        const QRect nameRect(freeLeft, 0, right - freeLeft, band.height() / 2 + 8);
        p.drawText(nameRect, Qt::AlignRight | Qt::AlignBottom, name);
        QFont small = font();
        small.setPixelSize(12);
        p.setFont(small);
        p.setPen(QColor(0xf3, 0x8b, 0x23));
        p.drawText(QRect(freeLeft, band.height() / 2 + 12, right - freeLeft, 20),
                   Qt::AlignRight | Qt::AlignTop,
                   QStringLiteral("宝贝采集 · 数据包生成  V" VQ_VERSION));
    }

    QFont label = font();
    label.setPixelSize(13);
    for (int item = 1; item <= kItems; ++item) {
        const QRect area = item_rect(item);
        const bool selected = item == current_;
        const bool hovered = item == hovered_;
        if (selected || hovered) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255, selected ? 44 : 24));
            p.drawRoundedRect(QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        }
        if (selected) {
            // The orange bar marks the page being shown.
            p.setBrush(QColor(0xf3, 0x8b, 0x23));
            p.drawRoundedRect(QRectF(area.left() + 18, area.bottom() - 3, area.width() - 36, 3),
                              1.5, 1.5);
        }
        const int pictureTop = area.top() + 7 - (hovered && !selected ? 1 : 0);
        p.drawPixmap(area.left() + (area.width() - kPicture) / 2, pictureTop,
                     navigation_picture(item, kPicture));
        p.setFont(label);
        p.setPen(selected ? QColor(255, 255, 255) : QColor(0xe4, 0xee, 0xf5));
        p.drawText(QRect(area.left(), pictureTop + kPicture + 3, area.width(), 20),
                   Qt::AlignHCenter | Qt::AlignTop, caption(item));
    }
}

void NavStrip::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (const int item = item_at(event->position().toPoint())) emit itemClicked(item);
}

void NavStrip::mouseMoveEvent(QMouseEvent* event) {
    const int item = item_at(event->position().toPoint());
    if (item == hovered_) return;
    hovered_ = item;
    if (item) {
        setCursor(Qt::PointingHandCursor);
    } else {
        unsetCursor();
    }
    setToolTip(tool_tip(item));
    update();
}

void NavStrip::leaveEvent(QEvent*) {
    hovered_ = 0;
    unsetCursor();
    update();
}

int NavStrip::item_at(const QPoint& point) const {
    for (int i = 1; i <= kItems; ++i) {
        if (item_rect(i).contains(point)) return i;
    }
    return 0;
}

}  // namespace vq::gui
