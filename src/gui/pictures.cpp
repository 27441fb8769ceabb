#include "gui/pictures.hpp"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QRadialGradient>
#include <QtMath>

namespace vq::gui {

namespace {

// One palette for every picture, so the strip, the icon and the banner belong together.
const QColor kTeal(0x17, 0xa2, 0x9e);
const QColor kBlue(0x1f, 0x6f, 0xb2);
const QColor kNavy(0x14, 0x3a, 0x5c);
const QColor kOrange(0xf3, 0x8b, 0x23);
const QColor kOrangeDeep(0xdc, 0x5b, 0x1e);
const QColor kWhite(0xff, 0xff, 0xff);

qreal device_ratio() {
    return qGuiApp ? qMax<qreal>(1.0, qGuiApp->devicePixelRatio()) : 1.0;
}

// A transparent pixmap of size x size device-independent pixels, sharp on high-density
// screens.
QPixmap blank_picture(const QSize& size) {
    const qreal ratio = device_ratio();
    QPixmap pixmap(qCeil(size.width() * ratio), qCeil(size.height() * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void prepare(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

// The rounded tile behind every strip picture; drawn in a 48 x 48 unit square.
void draw_tile(QPainter& p, const QColor& top, const QColor& bottom) {
    const QRectF tile(2, 2, 44, 44);
    QLinearGradient fill(tile.topLeft(), tile.bottomLeft());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(tile, 11, 11);
    // A soft sheen on the upper half gives the flat tile a little depth.
    QLinearGradient sheen(tile.topLeft(), QPointF(2, 26));
    sheen.setColorAt(0, QColor(255, 255, 255, 60));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(sheen);
    p.drawRoundedRect(tile, 11, 11);
}

void draw_home(QPainter& p) {
    draw_tile(p, kTeal, kBlue);
    QPainterPath roof;
    roof.moveTo(10.5, 24.5);
    roof.lineTo(24, 12);
    roof.lineTo(37.5, 24.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kWhite, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(roof);
    QPainterPath body;
    body.moveTo(15, 23);
    body.lineTo(24, 15);
    body.lineTo(33, 23);
    body.lineTo(33, 36);
    body.lineTo(15, 36);
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawPath(body);
    p.setBrush(kOrange);
    p.drawRoundedRect(QRectF(21, 27, 6, 9), 1.5, 1.5);
}

void draw_single_product(QPainter& p) {
    draw_tile(p, kTeal, kBlue);
    // A parcel seen from above the front corner.
    const QPointF top(24, 10), left(11, 16.5), right(37, 16.5), mid(24, 23);
    const QPointF bottomLeft(11, 32), bottom(24, 39), bottomRight(37, 32);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawPolygon(QPolygonF({top, right, mid, left}));
    p.setBrush(QColor(0xe3, 0xf1, 0xf6));
    p.drawPolygon(QPolygonF({left, mid, bottom, bottomLeft}));
    p.setBrush(QColor(0xc4, 0xdf, 0xea));
    p.drawPolygon(QPolygonF({mid, right, bottomRight, bottom}));
    // The tape over the lid and down the front.
    p.setBrush(kOrange);
    p.drawPolygon(QPolygonF({QPointF(17.5, 13.25), QPointF(20.5, 11.7), QPointF(33.5, 18.25),
                             QPointF(30.5, 19.8)}));
    p.drawPolygon(QPolygonF({QPointF(30.5, 19.8), QPointF(33.5, 18.25), QPointF(33.5, 33.8),
                             QPointF(30.5, 35.3)}));
}

void draw_list(QPainter& p) {
    draw_tile(p, kTeal, kBlue);
    for (int row = 0; row < 3; ++row) {
        const qreal y = 15.5 + row * 8.5;
        p.setPen(Qt::NoPen);
        p.setBrush(kOrange);
        p.drawEllipse(QPointF(14.5, y), 2.8, 2.8);
        p.setBrush(kWhite);
        p.drawRoundedRect(QRectF(20.5, y - 2, row == 2 ? 12 : 16.5, 4), 2, 2);
    }
}

void draw_shop(QPainter& p) {
    draw_tile(p, kTeal, kBlue);
    // The building.
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawRect(QRectF(12.5, 21, 23, 16));
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(15.5, 26, 7, 11), 1.2, 1.2);
    p.setBrush(QColor(0xc4, 0xdf, 0xea));
    p.drawRoundedRect(QRectF(25, 26, 7.5, 6), 1.2, 1.2);
    // The striped awning with its scalloped edge.
    const qreal left = 9.5, stripe = 29.0 / 4, top = 11, edge = 19.5;
    for (int i = 0; i < 4; ++i) {
        const qreal x = left + i * stripe;
        QPainterPath part;
        part.moveTo(x, top);
        part.lineTo(x + stripe, top);
        part.lineTo(x + stripe, edge);
        part.arcTo(QRectF(x, edge - stripe / 2, stripe, stripe), 0, -180);
        part.closeSubpath();
        p.setBrush(i % 2 == 0 ? kOrange : kWhite);
        p.drawPath(part);
    }
}

void draw_gear(QPainter& p) {
    draw_tile(p, kTeal, kBlue);
    const QPointF centre(24, 24);
    const int teeth = 8;
    const qreal outer = 15, inner = 11;
    QPainterPath gear;
    for (int k = 0; k < teeth; ++k) {
        const qreal a = k * 2 * M_PI / teeth;
        const auto at = [&](qreal angle, qreal radius) {
            return QPointF(centre.x() + radius * qCos(angle), centre.y() + radius * qSin(angle));
        };
        // Each tooth slightly narrower at its top, like a cut gear.
        if (k == 0) {
            gear.moveTo(at(a - 0.27, inner));
        } else {
            gear.lineTo(at(a - 0.27, inner));
        }
        gear.lineTo(at(a - 0.17, outer));
        gear.lineTo(at(a + 0.17, outer));
        gear.lineTo(at(a + 0.27, inner));
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(centre, 5.4, 5.4);
    p.setPen(QPen(kWhite, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kWhite);
    p.drawPath(gear.subtracted(hole));
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawEllipse(centre, 3, 3);
}

void draw_help(QPainter& p) {
    draw_tile(p, kTeal, kBlue);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kWhite, 3.2));
    p.drawEllipse(QPointF(24, 24), 14, 14);
    QPainterPath mark;
    mark.moveTo(19.2, 20.2);
    mark.cubicTo(19.2, 13.8, 29.2, 13.8, 29.2, 19.8);
    mark.cubicTo(29.2, 23.6, 24, 23.4, 24, 27.6);
    p.setPen(QPen(kWhite, 3.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(24, 32.6), 2.3, 2.3);
}

void draw_exit(QPainter& p) {
    // The one item that ends something gets the warm tile.
    draw_tile(p, kOrange, kOrangeDeep);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kWhite, 3.6, Qt::SolidLine, Qt::RoundCap));
    const QRectF ring(13, 14, 22, 22);
    p.drawArc(ring, 60 * 16, -300 * 16);
    p.drawLine(QPointF(24, 10.5), QPointF(24, 23));
}

// The program's mark in a 64 x 64 unit square: a quill writing into an open parcel.
void draw_mark(QPainter& p, bool small) {
    const QRectF tile(2, 2, 60, 60);
    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, kTeal);
    fill.setColorAt(1, kNavy);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(tile, 14, 14);

    // The parcel: back flap, body, front flap.
    p.setBrush(QColor(0xb9, 0x55, 0x14));
    p.drawPolygon(QPolygonF({QPointF(14, 36), QPointF(20, 30), QPointF(44, 30), QPointF(50, 36)}));
    QLinearGradient box(QPointF(0, 36), QPointF(0, 56));
    box.setColorAt(0, kOrange);
    box.setColorAt(1, kOrangeDeep);
    p.setBrush(box);
    p.drawRoundedRect(QRectF(14, 36, 36, 19), 3, 3);
    p.setBrush(QColor(255, 255, 255, 70));
    p.drawRect(QRectF(14, 36, 36, 3.5));

    // The quill: a feather leaning right, its nib dipping into the parcel.
    QPainterPath feather;
    feather.moveTo(27, 41);
    feather.cubicTo(24, 28, 34, 12, 52, 6);
    feather.cubicTo(51, 20, 43, 34, 27, 41);
    if (!small) {
        // Two notches in the vane read as barbs.
        QPainterPath notches;
        notches.addPolygon(QPolygonF({QPointF(49.5, 18), QPointF(42.5, 22.5), QPointF(52, 21.5)}));
        notches.addPolygon(QPolygonF({QPointF(44.5, 29), QPointF(37.5, 32.2), QPointF(47, 32.5)}));
        feather = feather.subtracted(notches);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawPath(feather);
    QPainterPath shaft;
    shaft.moveTo(27.5, 40.5);
    shaft.quadTo(35, 25, 48, 11);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x1b, 0x5f, 0x86), small ? 1.8 : 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(shaft);
    p.setPen(QPen(kNavy, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(27.2, 41), QPointF(24.8, 46));
}

QPixmap mark_picture(int size) {
    QPixmap pixmap = blank_picture(QSize(size, size));
    QPainter p(&pixmap);
    prepare(p);
    p.scale(size / 64.0, size / 64.0);
    draw_mark(p, size < 24);
    return pixmap;
}

}  // namespace

QPixmap navigation_picture(int item, int size) {
    const QString key = QStringLiteral("vq-nav-%1-%2-%3").arg(item).arg(size).arg(device_ratio());
    QPixmap cached;
    if (QPixmapCache::find(key, &cached)) return cached;

    QPixmap pixmap = blank_picture(QSize(size, size));
    QPainter p(&pixmap);
    prepare(p);
    p.scale(size / 48.0, size / 48.0);
    switch (item) {
        case 1: draw_home(p); break;
        case 2: draw_single_product(p); break;
        case 3: draw_list(p); break;
        case 4: draw_shop(p); break;
        case 5: draw_gear(p); break;
        case 6: draw_help(p); break;
        case 7: draw_exit(p); break;
        default: break;
    }
    p.end();
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QIcon application_icon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(mark_picture(size));
    return icon;
}

QPixmap banner_picture(const QSize& size) {
    QPixmap pixmap = blank_picture(size);
    QPainter p(&pixmap);
    prepare(p);
    const qreal w = size.width(), h = size.height();

    QLinearGradient fill(0, 0, w, h);
    fill.setColorAt(0, kNavy);
    fill.setColorAt(0.6, QColor(0x18, 0x6a, 0x8a));
    fill.setColorAt(1, kTeal);
    p.fillRect(QRectF(0, 0, w, h), fill);

    // Quiet rings on the right for texture.
    p.setPen(Qt::NoPen);
    QRadialGradient glow(QPointF(w * 0.92, h * 0.1), h * 1.1);
    glow.setColorAt(0, QColor(255, 255, 255, 46));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.setBrush(glow);
    p.drawRect(QRectF(0, 0, w, h));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 26), h * 0.09));
    p.drawEllipse(QPointF(w - h * 0.35, h * 0.95), h * 0.62, h * 0.62);
    p.setPen(QPen(QColor(255, 255, 255, 18), h * 0.05));
    p.drawEllipse(QPointF(w - h * 0.35, h * 0.95), h * 0.95, h * 0.95);
    // A thin accent line along the bottom.
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawRect(QRectF(0, h - qMax<qreal>(2, h * 0.03), w, qMax<qreal>(2, h * 0.03)));

    // The mark, then the name with its version badge.
    const qreal markSize = h * 0.58;
    const qreal margin = h * 0.2;
    const QRectF markRect(margin, (h - markSize) / 2, markSize, markSize);
    p.save();
    p.translate(markRect.topLeft());
    p.scale(markSize / 64.0, markSize / 64.0);
    draw_mark(p, markSize < 24);
    p.restore();

    const qreal textLeft = markRect.right() + h * 0.16;
    QFont name = qGuiApp ? qGuiApp->font() : QFont();
    name.setPixelSize(qMax(8, qRound(h * 0.22)));
    name.setBold(true);
    name.setLetterSpacing(QFont::PercentageSpacing, 102);
    const QFontMetricsF nameMetrics(name);
    const QString title = QStringLiteral("VelmoraQuillet");
    const qreal baseline = h * 0.5;
    p.setFont(name);
    p.setPen(kWhite);
    p.drawText(QPointF(textLeft, baseline), title);

    QFont badgeFont = name;
    badgeFont.setPixelSize(qMax(10, qRound(h * 0.11)));
    badgeFont.setLetterSpacing(QFont::PercentageSpacing, 100);
    const QFontMetricsF badgeMetrics(badgeFont);
    const QString version = QStringLiteral("V" VQ_VERSION);
    const qreal badgeHeight = badgeMetrics.height() * 1.25;
    const QRectF badge(textLeft + nameMetrics.horizontalAdvance(title) + h * 0.07,
                       baseline - nameMetrics.ascent() * 0.78,
                       badgeMetrics.horizontalAdvance(version) + badgeHeight * 0.8, badgeHeight);
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawRoundedRect(badge, badgeHeight / 2, badgeHeight / 2);
    p.setFont(badgeFont);
    p.setPen(kWhite);
    p.drawText(badge, Qt::AlignCenter, version);

    QFont line = name;
    line.setBold(false);
    line.setPixelSize(qMax(12, qRound(h * 0.1)));
    line.setLetterSpacing(QFont::PercentageSpacing, 104);
    p.setFont(line);
    p.setPen(QColor(255, 255, 255, 215));
    p.drawText(QPointF(textLeft + h * 0.01, baseline + h * 0.2),
               QStringLiteral("宝贝采集  ·  数据包生成"));
    return pixmap;
}

}  // namespace vq::gui
