#include "download/TForm5.h"

#include "platform/Desktop.h"
#include "platform/Fonts.h"
#include "platform/Services.h"

namespace {
constexpr int kOuterWidth = 462, kOuterHeight = 607;
constexpr int kFrameWidth = 6, kFrameHeight = 27;
}  // namespace

TForm5::TForm5(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("DOWN LOAD LISTS"));
    // Secondary windows only hide; the program ends with the main window alone.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(platform::DesignFont(platform::kFontPMincho, 12));
    setFixedSize(kOuterWidth - kFrameWidth, kOuterHeight - kFrameHeight);
    FormCreate();
}

void TForm5::FormCreate() {
    move(platform::CentredPosition(platform::Current().desktop->ScreenSize(),
                                   QSize(kOuterWidth, kOuterHeight)));
}
