// Writes the program's icon for the icon theme: tessaly.svg and tessaly-<size>.png, drawn by
// the same code as the window icon. Usage: make_icons <folder>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

#include "app/AppIcon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icons <folder>\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);

    QSvgGenerator svg;
    svg.setFileName(folder + QStringLiteral("/tessaly.svg"));
    svg.setSize(QSize(100, 100));
    svg.setViewBox(QRect(0, 0, 100, 100));
    svg.setTitle(QStringLiteral("Tessaly"));
    {
        QPainter p;
        if (!p.begin(&svg)) {
            std::fprintf(stderr, "make_icons: cannot write %s/tessaly.svg\n", argv[1]);
            return 1;
        }
        p.setRenderHint(QPainter::Antialiasing);
        DrawAppIcon(p);
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 100.0, size / 100.0);
        DrawAppIcon(p);
        p.end();
        const QString path = folder + QStringLiteral("/tessaly-%1.png").arg(size);
        if (!image.save(path)) {
            std::fprintf(stderr, "make_icons: cannot write %s\n", path.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
