#include "player/TForm6.h"

#include <QPainter>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "platform/Fonts.h"
#include "platform/Guard.h"
#include "platform/Services.h"

namespace {

QPixmap PrinterGlyph() {
    QPixmap pm(20, 20);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawRect(5, 1, 10, 6);    // paper in
    p.setBrush(QColor(0xc0, 0xc0, 0xc0));
    p.drawRect(1, 7, 18, 8);    // body
    p.setBrush(Qt::white);
    p.drawRect(5, 12, 10, 7);   // paper out
    p.setPen(Qt::darkGreen);
    p.drawPoint(16, 9);
    return pm;
}

}  // namespace

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("画像確認ウインドウ"));
    // Secondary windows only hide; the program ends with the main window alone.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(platform::DesignFont(platform::kFontPMincho, 12));
    resize(platform::ClientSizeOf({733, 510}));
    Image1 = new TImage(this);
    Image1->setGeometry(0, 0, 689, 457);
    PrintBtn = new QToolButton(this);
    PrintBtn->setGeometry(0, 0, 33, 31);
    PrintBtn->setIcon(QIcon(PrinterGlyph()));
    PrintBtn->setIconSize(QSize(20, 20));
    PrintBtn->setFocusPolicy(Qt::NoFocus);
    // The window shows no hints; the text is there for assistive technology.
    PrintBtn->setAccessibleName(QStringLiteral("フォームイメージの印刷"));
    PrintBtn->raise();
    connect(PrintBtn, &QToolButton::clicked, this, [this] { platform::Guarded([this] { PrintBtnClick(); }); });
    FormCreate();
}

void TForm6::FormCreate() {
    // A screen smaller than the window (a high scale) gets a smaller window: the picture
    // stretches to whatever size the window has.
    const QRect area = platform::Current().desktop->AvailableArea();
    if (!area.isEmpty()) resize(platform::ClientSizeOf(OuterSize().boundedTo(area.size())).expandedTo({1, 1}));
    platform::CentreWindow(this);
}

void TForm6::resizeEvent(QResizeEvent*) {
    platform::Guarded([this] { FormResize(); });
}

void TForm6::FormResize() {
    const QSize outer = OuterSize();
    Image1->setGeometry(0, 0, outer.width() - 10, outer.height() - 30);
}

void TForm6::PrintBtnClick() {
    platform::Printing& printing = *platform::Current().printing;
    if (!printing.SetupDialog(this)) return;
    // The client area as on the screen, print button included.
    const QImage image = grab().toImage();
    const QString where = platform::Current().printing->PrintImage(image, logicalDpiX(), logicalDpiY());
    if (!where.isEmpty() && Form1) Form1->StatusBar1->SetSimpleText(where);
}
