// The icon files made for the icon theme show the window icon: the SVG and the PNGs.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdlib>

#include "app/AppIcon.h"

namespace {

QImage WindowIcon(int size) {
    return AppIcon().pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The mean difference of two pictures per channel, 0 to 255.
double MeanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 255;
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q)) +
                   std::abs(qAlpha(p) - qAlpha(q));
        }
    return sum / (4.0 * a.width() * a.height());
}

TEST(IconFiles, ShowTheWindowIconAtEverySize) {
    const QString folder = QStringLiteral(TESSALY_BINARY_DIR "/icons/");
    QSvgRenderer svg(folder + QStringLiteral("tessaly.svg"));
    ASSERT_TRUE(svg.isValid());
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage png = QImage(folder + QStringLiteral("tessaly-%1.png").arg(size)).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(png.size(), QSize(size, size));
        QImage drawn(size, size, QImage::Format_ARGB32);
        drawn.fill(Qt::transparent);
        {
            QPainter p(&drawn);
            svg.render(&p);
        }
        // The window icon has no 22 px picture of its own (it scales another one down).
        if (size != 22) {
            EXPECT_LT(MeanDifference(png, WindowIcon(size)), 1.0);
        }
        // Antialiasing differs a little between the SVG renderer and the painter.
        EXPECT_LT(MeanDifference(drawn, png), 6.0);
        // The twin: another picture is far off, so the limits above mean something.
        EXPECT_GT(MeanDifference(drawn, HelpIcon().pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32)), 20.0);
    }
}

}  // namespace
