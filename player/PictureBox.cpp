#include "player/PictureBox.h"

#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("画像"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImage::SetPicture(platform::Picture picture) {
    picture_ = std::move(picture);
    const QSize s = picture_.Size();
    setAccessibleDescription(picture_.IsNull() ? QString() : QStringLiteral("%1 × %2").arg(s.width()).arg(s.height()));
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    picture_.Draw(p, rect());
}
