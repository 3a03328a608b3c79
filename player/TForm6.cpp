#include "player/TForm6.h"

#include "platform/Fonts.h"

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("画像確認ウインドウ"));
    // Secondary windows only hide; the program ends with the main window alone.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(platform::DesignFont(platform::kFontPMincho, 12));
    resize(733 - 6, 510 - 27);
}
