// vq-app-icon DIR: writes the window's icon as DIR/NxN/apps/velmoraquillet.png (a hicolor
// theme folder) for the desktop entry, from the drawing the window itself uses.

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <cstdio>

#include "gui/pictures.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vq-app-icon DIR\n", stderr);
        return 2;
    }
    // Runs during the build, where there may be no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QIcon icon = vq::gui::application_icon();
    for (const int size : {48, 128, 256}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
        const QString file = folder + QStringLiteral("/velmoraquillet.png");
        const QPixmap pixmap = icon.pixmap(QSize(size, size));
        if (pixmap.size() != QSize(size, size) || !QDir().mkpath(folder) ||
            !pixmap.save(file, "PNG")) {
            std::fprintf(stderr, "vq-app-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
