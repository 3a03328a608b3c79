#include "player/TForm6.h"

#include "platform/Fonts.h"

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("画像確認ウインドウ"));
    setFont(platform::DesignFont(platform::kFontPMincho, 12));
    resize(733 - 6, 510 - 27);
}
