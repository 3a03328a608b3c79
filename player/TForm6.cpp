#include "player/TForm6.h"

#include <QPainter>
#include <QPointer>
#include <cmath>
#include <cstdio>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "platform/Fonts.h"
#include "platform/Guard.h"
#include "pictures/PictureHelper.h"
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
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, [this] { platform::Guarded([this] { ResizeSettled(); }); });
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
    // Each step of a drag restarts the wait: one decode when the user lets go, not one per step.
    if (NeedsMorePixels()) settle_.start();
}

QSize TForm6::DevicePixels(QSize box, qreal ratio) {
    return QSize(static_cast<int>(std::ceil(box.width() * ratio)), static_cast<int>(std::ceil(box.height() * ratio)));
}

QSize TForm6::PicturePixels() const { return DevicePixels(Image1->size(), devicePixelRatioF()); }

bool TForm6::NeedsMorePixels() const {
    if (reducedFrom_.empty()) return false;
    const QSize has = Image1->Picture().Size();
    const QSize needs = PicturePixels();
    return has.width() < needs.width() || has.height() < needs.height();
}

void TForm6::ShowPicture(const platform::Picture& picture, const std::string& reducedFrom) {
    ++shown_;
    settle_.stop();
    reducedFrom_ = reducedFrom;
    Image1->SetPicture(picture);
}

void TForm6::ResizeSettled() {
    settle_.stop();
    if (!isVisible() || !NeedsMorePixels()) return;
    const std::string path = reducedFrom_;
    const unsigned mine = shown_;
    QPointer<TForm6> alive(this);
    // Given up when the viewer closes or shows another picture meanwhile.
    const auto wanted = [&] { return alive && mine == shown_ && alive->isVisible(); };
    try {
        const platform::Thumbnail again = platform::LoadThumbnailContained(path, PicturePixels(), wanted);
        if (!wanted()) return;
        ShowPicture(again.picture, again.whole ? std::string() : path);
        Image1->update();
        // Resized again while this decode was on its way.
        if (NeedsMorePixels()) settle_.start();
    } catch (const EInvalidGraphic& e) {
        // The file changed or went since it was shown: the picture stays as it is, sharp or
        // not; a resize is no moment for an error box.
        if (!wanted()) return;
        std::fprintf(stderr, "tessaly: %s\n", e.what());
        reducedFrom_.clear();
    }
}

void TForm6::PrintBtnClick() {
    platform::Printing& printing = *platform::Current().printing;
    if (!printing.SetupDialog(this)) return;
    // The client area as on the screen, print button included.
    const QImage image = grab().toImage();
    const QString where = platform::Current().printing->PrintImage(image, logicalDpiX(), logicalDpiY());
    if (!where.isEmpty() && Form1) Form1->StatusBar1->SetSimpleText(where);
}
