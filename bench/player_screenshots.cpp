// Screenshots of the player as a user meets it, for a look on a machine without a screen:
//   xvfb-run -a -s "-screen 0 1280x1024x24" ./build/player_screenshots OUT-FOLDER
// The main window with a picture thumbnail, and with the player and volume box for a
// playing MP3; the viewer with a JPEG and with a WMF; a WMF with Japanese text and an EMF
// with clipping as thumbnail and in the viewer; a video playing in its own window (the
// whole screen, and the window alone); and a PDF printed from the viewer.
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cmath>
#include <fstream>

#include "bench/PlayerBench.h"
#include "app/Forms.h"
#include "app/TForm1.h"
#include "platform/Fonts.h"
#include "media/GstMedia.h"
#include "media/MediaModule.h"
#include "platform/Guard.h"
#include "media/VideoWindow.h"
#include "platform/QtPrinting.h"
#include "platform/Services.h"
#include "player/TForm6.h"
#include "tests/support/MediaMaker.h"
#include "tests/support/MetafileMaker.h"

namespace {

using bench::Activate;
using bench::Wait;

std::string Le16(int v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
std::string Le32(long v) { return Le16(static_cast<int>(v & 0xFFFF)) + Le16(static_cast<int>((v >> 16) & 0xFFFF)); }

// A placeable metafile: a yellow field with a red ellipse and a blue rectangle.
std::string DemoWmf() {
    std::string r;
    auto rec = [&r](int f, std::initializer_list<int> ps) {
        r += Le32(3 + static_cast<long>(ps.size())) + Le16(f);
        for (int p : ps) r += Le16(p);
    };
    rec(0x020B, {0, 0});
    rec(0x020C, {300, 400});
    r += Le32(7) + Le16(0x02FC) + Le16(0) + Le32(0x0000FFFF) + Le16(0);
    r += Le32(7) + Le16(0x02FC) + Le16(0) + Le32(0x000000FF) + Le16(0);
    r += Le32(7) + Le16(0x02FC) + Le16(0) + Le32(0x00FF0000) + Le16(0);
    rec(0x012D, {0});
    rec(0x041B, {300, 400, 0, 0});
    rec(0x012D, {1});
    rec(0x0418, {250, 250, 50, 50});  // ellipse
    rec(0x012D, {2});
    rec(0x041B, {280, 380, 150, 200});
    rec(0x0000, {});
    const long words = 9 + static_cast<long>(r.size()) / 2;
    std::string h = Le16(1) + Le16(9) + Le16(0x0300) + Le32(words) + Le16(3) + Le32(7) + Le16(0);
    std::string pl = Le32(0x9AC6CDD7L) + Le16(0) + Le16(0) + Le16(0) + Le16(400) + Le16(300) + Le16(96) + Le32(0);
    int sum = 0;
    for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<unsigned char>(pl[i]) | static_cast<unsigned char>(pl[i + 1]) << 8;
    return pl + Le16(sum) + h + r;
}

// Clip-art with Shift-JIS text in a Japanese font, Latin-1 text with markup characters.
std::string JapaneseWmf() {
    metafilemaker::Wmf w(400, 300);
    w.Brush(0x0080FFFF).Select(0).Rectangle(0, 0, 400, 300);
    w.Brush(0x004040FF).Select(1).Words(0x0418, {290, 390, 170, 250});  // ellipse
    w.Font(-44, 128, "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e").Select(2);
    w.TextColour(0).Transparent().TextOut(20, 40, "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67");
    w.TextOut(20, 100, "\xb6\xc0\xb6\xc5 \x82\xa0\x82\xa2\x82\xa4");
    w.Font(-28, 0, "Arial").Select(3).TextColour(0x00800000).TextOut(20, 180, "Caf\xe9 <&]]> \"x\"");
    return w.Build();
}

// Stripes seen through an elliptic clip path, then a clip region, then text unclipped.
std::string ClippedEmf() {
    metafilemaker::Emf e(400, 300);
    e.Brush(1, 0x00E0E0E0).Select(1).Rectangle(0, 0, 400, 300);
    e.Rec(59, "").Rec(42, metafilemaker::Le32(40) + metafilemaker::Le32(30) + metafilemaker::Le32(360) + metafilemaker::Le32(270));
    e.Rec(60, "").Rec(67, metafilemaker::Le32(5));
    e.Brush(2, 0x00C06020).Brush(3, 0x0000C0FF);
    for (int x = 0; x < 400; x += 40) e.Select(x / 40 % 2 ? 3 : 2).Rectangle(x, 0, x + 40, 300);
    e.ClipRegion(5, {{0, 200, 400, 300}}).Brush(4, 0x00008000).Select(4).Rectangle(0, 0, 400, 300);
    e.ClipRegion(5, {});
    e.Font(5, -36, 128, u"ＭＳ ゴシック").Select(5).TextColour(0).Transparent();
    e.Text(60, 130, metafilemaker::Utf16(u"クリップ付き EMF"), true);
    return e.Build();
}

// An equation as an office suite writes it: Symbol and MT Extra in the default character set.
std::string SymbolWmf() {
    metafilemaker::Wmf w(400, 300);
    w.Brush(0x00FFFFFF).Select(0).Rectangle(0, 0, 400, 300).TextColour(0).Transparent();
    w.Font(-40, 1, "Times New Roman").Select(1).TextOut(20, 30, "f(x) =");
    w.Font(-40, 1, "Symbol").Select(2).TextOut(140, 30, "p\xB4" "a\xB3" "b\xAE\xA5");
    w.Font(-60, 1, "Symbol").Select(3).TextOut(20, 110, "\xE6\xE7\xE8\xF2\xE5\xF6\xF7\xF8");
    w.Font(-40, 1, "MT Extra").Select(4).TextOut(20, 220, "L M l");
    w.Font(-40, 1, "Wingdings").Select(5).TextOut(220, 220, "\xFC\x81\x6C\xD8");
    return w.Build();
}

// Words turned round a centre by the world transform: a spiral of text.
std::string TurnedEmf() {
    metafilemaker::Emf e(400, 400);
    e.Brush(1, 0x00FFFFFF).Select(1).Rectangle(0, 0, 400, 400);
    e.Font(2, -22, 0, u"DejaVu Sans").Select(2).TextColour(0x00802000).Transparent().Rec(22, metafilemaker::Le32(24));
    for (int i = 0; i < 12; ++i) {
        const double a = i * M_PI / 6, c = std::cos(a), s = std::sin(a);
        e.World(static_cast<float>(c), static_cast<float>(s), static_cast<float>(-s), static_cast<float>(c), 200, 200);
        e.Text(20 + 4 * i, 0, "Tessaly " + std::to_string(i * 30), false);
    }
    e.World(1, 0, -0.6f, 1, 240, 0).Font(3, -30, 0, u"DejaVu Sans").Select(3).TextColour(0).Text(220, 390, "sheared", false);
    return e.Build();
}

// A picture drawn only in EMF+: gradient, shapes, a path, an image and text.
std::string PlusEmf() {
    using metafilemaker::F32;
    using metafilemaker::Le32;
    using metafilemaker::Plus;
    Plus p;
    p.Header().GradientBrush(0, 0, 0, 400, 300, 0xFF2060C0, 0xFFFFE080).FillRectWith(0, 0, 0, 400, 300);
    p.Rec(0x400E, 0x8000, Le32(0xC0FF4040) + Plus::Rect(30, 30, 160, 120));
    p.Pen(1, 6, 0xFF000000).Rec(0x400D, 1 | 0x2000, Le32(3) + F32(220) + F32(40) + F32(370) + F32(40) + F32(295) + F32(150));
    p.Path(2, {{40, 280}, {90, 180}, {150, 280}, {200, 200}}, std::string("\x00\x03\x03\x83", 4)).Rec(0x4014, 0x8002, Le32(0xFF30A030));
    std::vector<uint32_t> px;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) px.push_back((x + y) % 2 ? 0xFFFFFFFF : 0xFF202020);
    p.Image(3, 8, px).Rec(0x401A, 3, Le32(0) + Le32(2) + Plus::Rect(0, 0, 8, 8) + Plus::Rect(250, 180, 100, 100));
    p.Font(4, 28, u"IPAPGothic").Rec(0x401C, 0x8004, Le32(0xFF000000) + Le32(63) + Le32(9) + Plus::Rect(20, 160, 220, 40) +
                                          metafilemaker::Utf16(u"EMF+ の絵です"));
    p.End();
    metafilemaker::Emf e(400, 300);
    e.Comment(p);
    return e.Build();
}

}  // namespace

int main(int argc, char** argv) {
    platform::GuardedApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    platform::InstallSystemServices(QCoreApplication::applicationFilePath().toStdString());
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("out/player-screenshots");
    QDir().mkpath(out);
    platform::Current().printing = std::make_unique<platform::QtPrinting>(out);
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    auto save = [&](QWidget* w, const char* name) {
        const QString path = out + QLatin1Char('/') + QLatin1String(name);
        w->grab().save(path);
        std::printf("%s\n", path.toUtf8().constData());
    };

    ApplicationWindows windows;
    TForm1* form = Form1;
    form->show();
    Wait(300);

    // A photo-like JPEG: a gradient with a few shapes and Japanese text.
    QImage photo(1200, 800, QImage::Format_RGB32);
    {
        QPainter p(&photo);
        QLinearGradient g(0, 0, 1200, 800);
        g.setColorAt(0, QColor(40, 100, 180));
        g.setColorAt(1, QColor(240, 200, 120));
        p.fillRect(photo.rect(), g);
        p.setBrush(QColor(200, 40, 40));
        p.drawEllipse(QPoint(400, 400), 200, 150);
        QFont f(QStringLiteral("IPAPGothic"), 60);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 600, 1200, 150), Qt::AlignCenter, QStringLiteral("画像確認ウインドウ"));
    }
    const std::string jpeg = dir + "/photo.jpg";
    photo.save(QString::fromStdString(jpeg), "JPG", 90);
    Activate(form, jpeg);
    Wait(200);
    save(form, "main-thumbnail.png");
    form->Image1DblClick();
    Wait(300);
    save(Form6, "viewer-jpeg.png");
    {
        // A camera-sized photo with fine lines and text: the viewer shows it from a decode
        // at its box's size.
        QImage large(4000, 3000, QImage::Format_RGB32);
        QPainter p(&large);
        QLinearGradient g(0, 0, 4000, 3000);
        g.setColorAt(0, QColor(40, 100, 180));
        g.setColorAt(1, QColor(240, 200, 120));
        p.fillRect(large.rect(), g);
        p.setPen(QPen(QColor(30, 30, 30), 3));
        for (int x = 0; x < 4000; x += 100) p.drawLine(x, 0, x, 3000);
        for (int y = 0; y < 3000; y += 100) p.drawLine(0, y, 4000, y);
        p.setBrush(QColor(200, 40, 40));
        p.drawEllipse(QPoint(1300, 1300), 700, 500);
        p.setFont(QFont(QStringLiteral("IPAPGothic"), 200));
        p.setPen(Qt::white);
        p.drawText(QRect(0, 2000, 4000, 600), Qt::AlignCenter, QStringLiteral("画像確認ウインドウ"));
        p.end();
        const std::string path = dir + "/large.jpg";
        large.save(QString::fromStdString(path), "JPG", 90);
        Activate(form, path);
        form->Image1DblClick();
        Wait(300);
        save(Form6, "viewer-large-jpeg.png");
    }
    {
        // The print button's path after a confirmed dialog: the window's image to a PDF.
        const QString where = platform::Current().printing->PrintImage(Form6->grab().toImage(), Form6->logicalDpiX(), Form6->logicalDpiY());
        std::printf("%s\n", where.toUtf8().constData());
        form->StatusBar1->SetSimpleText(where);
    }

    const std::string wmf = dir + "/demo.wmf";
    std::ofstream(wmf, std::ios::binary) << DemoWmf();
    Activate(form, wmf);
    form->Image1DblClick();
    Wait(300);
    save(Form6, "viewer-wmf.png");
    Form6->hide();

    for (const auto& [name, bytes] : {std::pair{"japanese.wmf", JapaneseWmf()}, std::pair{"clipped.emf", ClippedEmf()},
                                      std::pair{"symbol.wmf", SymbolWmf()}, std::pair{"turned.emf", TurnedEmf()},
                                      std::pair{"plus.emf", PlusEmf()}}) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        Activate(form, path);
        Wait(200);
        save(form, (std::string("main-thumbnail-") + name + ".png").c_str());
        form->Image1DblClick();
        Wait(300);
        save(Form6, (std::string("viewer-") + name + ".png").c_str());
        Form6->hide();
    }

    const std::string mp3 = mediamaker::Make(dir, "mp3", 20, "song");
    Activate(form, mp3);
    form->MediaPlayer1->ButtonWidget(TMediaPlayer::btPlay)->click();
    Wait(2500);
    form->Timer2Timer();
    Wait(100);
    save(form, "main-playing-mp3.png");

    const std::string mov = mediamaker::Make(dir, "mov", 6, "clip");
    Activate(form, mov);
    form->MediaPlayer1->ButtonWidget(TMediaPlayer::btPlay)->click();
    Wait(2000);
    const QString screen = out + QStringLiteral("/video-window-screen.png");
    if (QScreen* s = QGuiApplication::primaryScreen()) s->grabWindow(0).save(screen);
    std::printf("%s\n", screen.toUtf8().constData());
    // The video window alone, as the window system shows it.
    // The program's device lives in the media module, behind the slot's loader.
    platform::MediaDevice* device = platform::Current().media.get();
    if (auto* loader = dynamic_cast<platform::ModuleMediaDevice*>(device)) device = loader->Device();
    if (auto* gst = dynamic_cast<platform::GstMediaDevice*>(device); gst && gst->Window()) {
        const QString window = out + QStringLiteral("/video-window.png");
        if (QScreen* s = QGuiApplication::primaryScreen())
            s->grabWindow(gst->Window()->winId()).save(window);
        std::printf("%s (%d frames shown)\n", window.toUtf8().constData(), gst->Window()->FramesShown());
    }
    platform::Current().media->Close();
    return 0;
}
