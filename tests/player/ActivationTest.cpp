// Item activation: the launch table, the media open, pictures and the viewer, the volume.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <csignal>

#include "Fixtures.h"
#include "platform/Guard.h"
#include "pictures/PictureHelper.h"
#include "pictures/Pictures.h"
#include "platform/QtPrinting.h"
#include "player/Playback.h"
#include "player/TForm6.h"

namespace {

class ActivationTest : public MainWindowFixture {
protected:
    std::string Touch(const std::string& name, const std::string& bytes = "x") {
        std::string p = Path(name);
        WriteFile(p, bytes);
        return p;
    }
    void Activate(const std::string& path) {
        form->CheckListBox1->Clear();
        form->CheckListBox1->Add(path);
        form->CheckListBox1->SetItemIndex(0);
        form->CheckListBox1Click();
    }
    std::vector<std::string>& Started() { return fakes->programs->started; }
    std::string MakeBmp(const std::string& name, QColor colour, QSize size = {40, 30}) {
        QImage img(size, QImage::Format_RGB32);
        img.fill(colour);
        std::string p = Path(name);
        EXPECT_TRUE(img.save(QString::fromStdString(p), "BMP"));
        return p;
    }
};

TEST(LaunchTable, ExtensionKeysAndRows) {
    using player::ExtensionKey;
    using player::LaunchKind;
    EXPECT_EQ(ExtensionKey("/m/a.mp3"), ".MP3");
    EXPECT_EQ(ExtensionKey("/m/x.tar.Gz"), ".GZ");
    EXPECT_EQ(ExtensionKey("/m.d/noext"), "");
    EXPECT_EQ(ExtensionKey("/m/\xc3\xa4.\xc3\xa4mp3"), "." "\xc3\xa4" "MP3");  // only a-z change case
    auto kind = [](const char* name) { return player::LaunchFor(ExtensionKey(name), name).kind; };
    EXPECT_EQ(kind("A.MP3"), LaunchKind::Media);
    EXPECT_EQ(kind("a.dat"), LaunchKind::Media);
    EXPECT_EQ(kind("a.jpeg"), LaunchKind::None);
    EXPECT_EQ(kind("a.Jpg"), LaunchKind::Jpeg);
    EXPECT_EQ(kind("a.emf"), LaunchKind::Picture);
    EXPECT_EQ(kind("x.cc"), LaunchKind::None);
    EXPECT_EQ(kind("x.h"), LaunchKind::None);
    EXPECT_EQ(kind("x.exe"), LaunchKind::ConfirmedProgram);
}

TEST_F(ActivationTest, EveryProgramRowStartsItsCommandLines) {
    const struct {
        const char* name;
        std::deque<unsigned> results;
        std::vector<std::string> expected;  // "%" stands for the path
    } rows[] = {
        {"k.jar", {}, {"\\J2MEWSDK4DOJA\\bin\\_ktoolbar.exe \\jdk1.3 \\J2MEWSDK4DOJA"}},
        {"k2.JAR", {2}, {"\\J2MEWSDK4DOJA\\bin\\_ktoolbar.exe \\jdk1.3 \\J2MEWSDK4DOJA"}},  // no second try
        {"s.c", {}, {"NOTEPAD.EXE %"}},
        {"s.ccp", {}, {"NOTEPAD.EXE %"}},
        {"run me.bat", {}, {"NOTEPAD.EXE %"}},  // shown, never run
        {"t.Csv", {2}, {"NOTEPAD.EXE %"}},
        {"b.xls", {}, {"\\Program Files\\Microsoft Office\\Office\\EXCEL.EXE %"}},
        {"b2.xls", {2}, {"\\Program Files\\Microsoft Office\\Office\\EXCEL.EXE %", "\\Program Files\\Microsoft Office\\Office\\EXCEL.EXE %"}},
        {"d.doc", {0, 2}, {"\\Program Files\\Microsoft Office\\Office\\WinWORD.EXE %", "\\Program Files\\Accessories\\wordpad.EXE %"}},
        {"c.dwg", {31}, {"\\Program Files\\ACAD LT 2000\\aclt.EXE %", "\\Program Files\\ACAD\\acad.EXE %"}},
        {"c2.dwg", {32}, {"\\Program Files\\ACAD LT 2000\\aclt.EXE %"}},
        {"g.gif", {2}, {"\\Program Files\\Internet Explorer\\IEXPLORE.EXE %", "\\Program Files\\Internet Explorer\\IEXPLORE.EXE %"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = Touch(row.name);
        Started().clear();
        fakes->programs->shows.clear();
        fakes->programs->results = row.results;
        Activate(path);
        std::vector<std::string> expected;
        for (std::string e : row.expected) {
            if (size_t at = e.find('%'); at != std::string::npos) e.replace(at, 1, path);
            expected.push_back(e);
        }
        EXPECT_EQ(Started(), expected);
        EXPECT_EQ(fakes->programs->shows, std::vector<int>(expected.size(), 5));
    }
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(ActivationTest, ExeRunsOnlyAfterYes) {
    const std::string exe = Touch("setup.Exe");
    boxes->answers = {platform::BoxAnswer::No, platform::BoxAnswer::Yes};
    Activate(exe);
    EXPECT_TRUE(Started().empty());
    Activate(exe);
    EXPECT_EQ(Started(), std::vector<std::string>{exe});
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(boxes->shown[0].kind, platform::BoxKind::Confirmation);
    EXPECT_EQ(boxes->shown[0].text, QStringLiteral("\r\nこのプログラムを起動しますか（Y/N)？"));
}

TEST_F(ActivationTest, MediaOpenShowsThePlayerAndVolumeOnlyForSound) {
    form->show();
    const std::string mp3 = Touch("a.mp3");
    const std::string upper = Touch("B.MP3");
    const std::string mid = Touch("c.MiD");
    Activate(mp3);
    EXPECT_TRUE(fakes->media->open);
    EXPECT_FALSE(fakes->media->playing);  // opened, not started
    EXPECT_TRUE(form->MediaPlayer1->isVisible());
    EXPECT_TRUE(form->MediaPlayer1->isEnabled());
    EXPECT_TRUE(form->GroupBox1->isVisible());
    EXPECT_TRUE(form->Label9->isVisible());
    EXPECT_TRUE(form->Timer2->Enabled());
    Activate(upper);
    EXPECT_EQ(fakes->media->file, upper);
    Activate(mid);
    EXPECT_EQ(fakes->media->file, mid);
    EXPECT_FALSE(form->GroupBox1->isVisible());
    EXPECT_TRUE(form->MediaPlayer1->isVisible());
    // A broken file: the error box, the controls hidden, the timer left alone.
    form->Timer2->SetEnabled(false);
    const std::string bad = Touch("bad.wav");
    fakes->media->failing = {bad};
    Activate(bad);
    EXPECT_EQ(boxes->TextsOf(platform::BoxKind::Error),
              (std::vector<QString>{QStringLiteral("ご指定のファイルは壊れている\r\n可能性があります。")}));
    EXPECT_FALSE(form->MediaPlayer1->isVisible());
    EXPECT_FALSE(form->Label9->isVisible());
    EXPECT_FALSE(form->Timer2->Enabled());
}

TEST_F(ActivationTest, StoreEntryActivatesTheNextAndMissingFilesOnlyClearTheStatus) {
    form->show();
    const std::string store = Touch("SearchView.TXT");
    const std::string a = Touch("a.wav");
    const std::string b = Touch("b.mp3");
    for (const auto& p : {a, store, b}) form->CheckListBox1->Add(p);
    form->CheckListBox1->SetItemIndex(1);
    form->CheckListBox1Click();
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 2);
    EXPECT_EQ(fakes->media->file, b);
    form->CheckListBox1->SetText(2, Path("SearchView.MP3"));  // last entry a store file: wraps to 0
    WriteFile(Path("SearchView.MP3"), "x");
    form->CheckListBox1->SetItemIndex(2);
    form->CheckListBox1Click();
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 0);
    EXPECT_EQ(fakes->media->file, a);
    // A deleted file: status text cleared, everything else as it was.
    form->StatusBar1->SetSimpleText(QStringLiteral("old"));
    form->CheckListBox1->Add(Path("gone.mp3"));
    form->CheckListBox1->SetItemIndex(3);
    form->CheckListBox1Click();
    EXPECT_EQ(form->StatusBar1->SimpleText(), QString());
    EXPECT_TRUE(form->MediaPlayer1->isVisible());
    EXPECT_EQ(fakes->media->file, a);
    // Nothing at all is done when the click-confirmation box is off.
    form->CheckBox5->setChecked(false);
    form->StatusBar1->SetSimpleText(QStringLiteral("kept"));
    form->CheckListBox1Click();
    EXPECT_EQ(form->StatusBar1->SimpleText(), QStringLiteral("kept"));
}

TEST_F(ActivationTest, PictureShowsThumbnailWhileTheSongGoesOnAndViewerGetsIt) {
    form->show();
    Activate(Touch("song.mp3"));
    fakes->media->Play();
    const std::string bmp = MakeBmp("red.BMP", Qt::red);
    Activate(bmp);
    EXPECT_TRUE(fakes->media->playing);
    EXPECT_FALSE(form->MediaPlayer1->isVisible());
    EXPECT_FALSE(form->GroupBox1->isVisible());
    EXPECT_TRUE(form->Image1->isVisible());
    ASSERT_FALSE(form->Image1->pixmap().isNull());
    EXPECT_EQ(form->Image1->pixmap().toImage().pixelColor(10, 10), QColor(Qt::red));
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(40, 30));
    EXPECT_FALSE(Form6->isVisible());
    // A damaged picture: the library's error goes to the guard's error box; the thumbnail
    // and the viewer keep the last good picture.
    const std::string broken = Touch("broken.bmp", "BMnot really");
    EXPECT_THROW(Activate(broken), EInvalidGraphic);
    EXPECT_TRUE(form->Image1->isVisible());
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(40, 30));
    platform::Guarded([&] { Activate(broken); });
    ASSERT_EQ(boxes->TextsOf(platform::BoxKind::Error).size(), 1u);
    EXPECT_TRUE(boxes->TextsOf(platform::BoxKind::Error)[0].contains(QString::fromStdString(broken)));
}

TEST_F(ActivationTest, APhotoShowsAReducedThumbnailAndAnOpenViewerGetsItWhole) {
    form->show();
    auto jpeg = [&](const std::string& name, QColor colour, QSize size) {
        QImage img(size, QImage::Format_RGB32);
        img.fill(colour);
        EXPECT_TRUE(img.save(QString::fromStdString(Path(name)), "JPG", 95));
        return Path(name);
    };
    auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) <= 24 && std::abs(a.green() - b.green()) <= 24 && std::abs(a.blue() - b.blue()) <= 24;
    };
    Activate(MakeBmp("first.bmp", Qt::green));
    ASSERT_EQ(Form6->Image1->Picture().Size(), QSize(40, 30));
    // The viewer closed: the thumbnail from a reduced decode; the viewer keeps no other
    // picture, and the double-click brings this one whole.
    const std::string photo = jpeg("photo.jpg", Qt::red, {800, 600});
    Activate(photo);
    EXPECT_TRUE(form->Image1->isVisible());
    EXPECT_TRUE(near(form->Image1->pixmap().toImage().pixelColor(10, 10), Qt::red));
    EXPECT_TRUE(Form6->Image1->Picture().IsNull());
    form->Image1DblClick();
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(800, 600));
    // The viewer open: the click brings the next photo whole into it.
    const std::string next = jpeg("next.jpg", Qt::blue, {800, 600});
    Activate(next);
    EXPECT_TRUE(near(form->Image1->pixmap().toImage().pixelColor(10, 10), Qt::blue));
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(800, 600));
    EXPECT_TRUE(near(Form6->Image1->Picture().Image().pixelColor(400, 300), Qt::blue));
    // A photo no larger than twice the thumbnail comes whole at once, also to a closed viewer.
    Form6->hide();
    Activate(jpeg("small.jpg", Qt::green, {64, 48}));
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(64, 48));
    // A damaged photo: the error, and the thumbnail and viewer as they were.
    const std::string cut = Path("cut.jpg");
    WriteFile(cut, ReadFile(photo).substr(0, ReadFile(photo).size() / 2));
    EXPECT_THROW(Activate(cut), EInvalidGraphic);
    EXPECT_TRUE(near(form->Image1->pixmap().toImage().pixelColor(10, 10), Qt::green));
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(64, 48));
    EXPECT_TRUE(boxes->shown.empty());
}

// The whole picture for an open viewer, or the double-click's, is on its way while the user
// goes on: closing the viewer or clicking another item ends the load, and what arrives late
// neither fills a closed viewer nor covers the later picture.
TEST_F(ActivationTest, ClosingTheViewerOrMovingOnEndsTheWholePictureLoad) {
    form->show();
    QImage img(QSize(800, 600), QImage::Format_RGB32);
    img.fill(Qt::red);
    const std::string photo = Path("photo.jpg");
    ASSERT_TRUE(img.save(QString::fromStdString(photo), "JPG", 90));
    const std::string blue = MakeBmp("blue.bmp", Qt::blue, {8, 4});
    const struct {
        const char* name;
        bool viewerOpen;
        int stopAtRequest;  // the request whose helper stands still
        std::function<void()> start, meanwhile;
    } rows[] = {
        // With the viewer open the click's one load serves both; closed meanwhile, the
        // thumbnail's own load follows.
        {"viewer closed during the click's load", true, 1, [&] { Activate(photo); }, [&] { Form6->hide(); }},
        {"another item during the double-click's load", false, 1, [&] { form->Image1DblClick(); }, [&] { Activate(blue); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Activate(MakeBmp("first.bmp", Qt::green));
        if (row.viewerOpen) {
            Form6->show();
        } else {
            Form6->hide();
            Activate(photo);  // the thumbnail, reduced; the double-click loads the rest
            ASSERT_TRUE(Form6->Image1->Picture().IsNull());
        }
        int requests = 0;
        QElapsedTimer stopped;  // from the helper's standstill: given up at once, not at its deadline
        platform::PictureHelperTuning().onRequestSent = [&](pid_t helper) {
            if (++requests != row.stopAtRequest) return;
            ::kill(helper, SIGSTOP);
            stopped.start();
            QTimer::singleShot(0, row.meanwhile);
        };
        EXPECT_NO_THROW(row.start());
        platform::PictureHelperTuning().onRequestSent = nullptr;
        ASSERT_TRUE(stopped.isValid());
        EXPECT_LT(stopped.elapsed(), platform::PictureHelperTuning().deadlineMs - 1000);
        EXPECT_FALSE(Form6->isVisible());
        if (row.viewerOpen) {
            EXPECT_TRUE(Form6->Image1->Picture().IsNull());
            EXPECT_TRUE(form->Image1->isVisible());  // the thumbnail stays
        } else {
            EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(8, 4));
        }
        EXPECT_TRUE(boxes->shown.empty());
    }
}

TEST_F(ActivationTest, DoubleClickShowsTheViewerCentredOnTopAndStretched) {
    desktop->screen = QSize(1001, 801);
    const std::string bmp = MakeBmp("blue.bmp", Qt::blue, {8, 4});
    Activate(bmp);
    Form6->move(5, 5);
    Form6->resize(400, 300);
    form->Image1DblClick();
    EXPECT_TRUE(Form6->isVisible());
    EXPECT_TRUE(Form6->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const QSize outer = Form6->OuterSize();
    EXPECT_EQ(Form6->pos(), QPoint((1001 - outer.width()) / 2, (801 - outer.height()) / 2));
    EXPECT_EQ(Form6->Image1->geometry(), QRect(0, 0, outer.width() - 10, outer.height() - 30));
    // The tiny picture fills the whole box, proportions not kept.
    const QImage shot = Form6->Image1->grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.width() - 2, shot.height() - 2), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(shot.width() - 2, 2), QColor(Qt::blue));
    // Moved by the user, centred again by the next double-click.
    Form6->move(0, 0);
    form->Image1DblClick();
    EXPECT_EQ(Form6->pos(), QPoint((1001 - outer.width()) / 2, (801 - outer.height()) / 2));
    // The file is gone: the error is raised, the viewer stays where it is.
    Form6->hide();
    platform::DeleteFile(bmp);
    EXPECT_THROW(form->Image1DblClick(), EInvalidGraphic);
    EXPECT_FALSE(Form6->isVisible());
    form->CheckListBox1->SetItemIndex(-1);
    EXPECT_THROW(form->Image1DblClick(), Exception);
}

TEST_F(ActivationTest, PrintButtonPrintsTheWindowImageOnlyWhenConfirmed) {
    Activate(MakeBmp("p.bmp", Qt::green));
    form->Image1DblClick();
    fakes->printing->confirm = false;
    Form6->PrintBtn->click();
    EXPECT_EQ(fakes->printing->dialogs, 1);
    EXPECT_TRUE(fakes->printing->printed.empty());
    fakes->printing->confirm = true;
    Form6->PrintBtn->click();
    ASSERT_EQ(fakes->printing->printed.size(), 1u);
    const QImage& img = fakes->printing->printed[0];
    EXPECT_EQ(img.size(), Form6->size() * Form6->devicePixelRatio());
    EXPECT_EQ(img.pixelColor(img.width() / 2, img.height() / 2), QColor(Qt::green));
    EXPECT_NE(img.pixelColor(16, 15), QColor(Qt::green));  // the print button is on the image
}

TEST_F(ActivationTest, VolumeBarsSendTheDeviceValue) {
    EXPECT_EQ(player::VolumeValue(0, 0), 0x7F007F00u);
    EXPECT_EQ(player::VolumeValue(127, 127), 0u);
    EXPECT_TRUE(fakes->waveOut->values.empty());  // nothing applied at start-up
    form->ScrollBar3->setValue(0);  // the both-bar at the top: all three there
    EXPECT_EQ(form->ScrollBar1->value(), 0);
    EXPECT_EQ(form->ScrollBar2->value(), 0);
    EXPECT_EQ(fakes->waveOut->values, std::vector<std::uint32_t>{0x7F007F00u});
    form->ScrollBar2->setValue(127);  // left bar at the bottom: right only
    EXPECT_EQ(fakes->waveOut->Volume(), 0x7F000000u);
    EXPECT_EQ(form->ScrollBar3->value(), 0);  // the both-bar stays
    fakes->waveOut->values.clear();
    form->ScrollBar3->setValue(64);
    EXPECT_EQ(form->ScrollBar1->value(), 64);
    EXPECT_EQ(form->ScrollBar2->value(), 64);
    EXPECT_EQ(fakes->waveOut->values, std::vector<std::uint32_t>{0x3F003F00u});
    form->ScrollBar1->setValue(127);
    EXPECT_EQ(fakes->waveOut->Volume(), 0x3F00u);
}

}  // namespace

namespace {

// The real printing path to a PDF file, from the viewer's image.
TEST_F(ActivationTest, ViewerPrintsToAPdfFile) {
    platform::QtPrinting printing(QString::fromStdString(dir + "/pdf"));
    // Never a real printer from a test: a PDF file whatever is installed.
    printing.Printer().setOutputFormat(QPrinter::PdfFormat);
    printing.Printer().setOutputFileName(QString::fromStdString(dir + "/out.pdf"));
    Activate(MakeBmp("p.bmp", Qt::green));
    form->Image1DblClick();
    const QString where = printing.PrintImage(Form6->grab().toImage(), 96, 96);
    EXPECT_TRUE(where.contains(QStringLiteral("out.pdf")));
    const std::string pdf = ReadFile(dir + "/out.pdf");
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
    EXPECT_GT(pdf.size(), 1000u);
}

// The picture is decoded in the helper while the window answers. A click on another entry
// meanwhile wins: the earlier picture, or its error, arrives too late to show.
TEST_F(ActivationTest, AClickDuringAPictureLoadWinsOverTheEarlierPicture) {
    form->show();
    const std::string red = MakeBmp("red.bmp", Qt::red);
    const std::string blue = MakeBmp("blue.bmp", Qt::blue, {8, 4});
    const std::string broken = Touch("broken.bmp", "BMnot really");
    for (const std::string& first : {red, broken}) {
        SCOPED_TRACE(first);
        bool clicked = false;
        // The first picture's helper stands still: only the second click can end its wait.
        platform::PictureHelperTuning().onRequestSent = [&](pid_t helper) {
            if (clicked) return;
            clicked = true;
            ::kill(helper, SIGSTOP);
            QTimer::singleShot(0, [&] { Activate(blue); });
        };
        pid_t superseded = -1;
        platform::PictureHelperTuning().onRequestSent = [&, hook = platform::PictureHelperTuning().onRequestSent](pid_t helper) {
            if (superseded < 0) superseded = helper;
            hook(helper);
        };
        QElapsedTimer clock;
        clock.start();
        EXPECT_NO_THROW(Activate(first));
        // Given up at the second click, not at the helper's deadline.
        EXPECT_LT(clock.elapsed(), platform::PictureHelperTuning().deadlineMs - 1000);
        platform::PictureHelperTuning().onRequestSent = nullptr;
        // The earlier picture's helper was stopped, not left to finish work nobody wants.
        const std::vector<pid_t> helpers = platform::PictureHelperPids();
        EXPECT_EQ(std::count(helpers.begin(), helpers.end(), superseded), 0);
        for (int i = 0; i < 100 && Form6->Image1->Picture().Size() != QSize(8, 4); ++i)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(8, 4));
        EXPECT_EQ(form->Image1->pixmap().toImage().pixelColor(10, 10), QColor(Qt::blue));
        EXPECT_TRUE(form->Image1->isVisible());
        MakeBmp("green.bmp", Qt::green);
        Activate(Path("green.bmp"));  // back to a known picture for the next round
        EXPECT_EQ(form->Image1->pixmap().toImage().pixelColor(10, 10), QColor(Qt::green));
    }
    EXPECT_TRUE(boxes->TextsOf(platform::BoxKind::Error).empty());
}

// The viewer's picture: a JPEG at the largest reduction that still covers its box in device
// pixels, so a screen of twice the pixels gets twice the pixels.
TEST(ViewerPictureSize, ReductionByBoxAndDeviceRatio) {
    const QSize photo(4000, 3000);
    const struct {
        QSize box;
        qreal ratio;
        unsigned reduction;
    } rows[] = {
        {{689, 457}, 1.0, 4},     // the viewer as created: 1000 x 750
        {{689, 457}, 2.0, 2},     // 1378 x 914 device pixels: 2000 x 1500
        {{689, 457}, 1.25, 4},    // 862 x 572 still within a quarter
        {{689, 457}, 1.5, 2},     // 1034 x 686: a quarter is 1000 wide, too narrow
        {{1000, 750}, 1.0, 4},    // exactly covered
        {{1001, 750}, 1.0, 2},    // a pixel wider: half
        {{1000, 751}, 1.0, 2},    // a pixel higher: half
        {{300, 200}, 1.0, 8},     // an eighth at most
        {{2000, 1500}, 2.0, 1},   // the whole picture and no more
        {{2001, 1500}, 2.0, 1},   // a box larger than the picture: still the whole
        {{0, 0}, 2.0, 1},         // no box: whole
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.box.width()) + "x" + std::to_string(row.box.height()) + " at " + std::to_string(row.ratio));
        EXPECT_EQ(platform::JpegReduction(photo, TForm6::DevicePixels(row.box, row.ratio)), row.reduction);
    }
    EXPECT_EQ(TForm6::DevicePixels({689, 457}, 1.25), QSize(862, 572));
    // A picture hardly larger than the box comes whole.
    EXPECT_EQ(platform::JpegReduction({800, 600}, {689, 457}), 1u);
}

class ViewerResizeTest : public ActivationTest {
protected:
    void SetUp() override {
        ActivationTest::SetUp();
        form->show();
        QImage img(2800, 2000, QImage::Format_RGB32);
        img.fill(Qt::red);
        photo = Path("photo.jpg");
        ASSERT_TRUE(img.save(QString::fromStdString(photo), "JPG", 90));
        platform::PictureHelperTuning().onRequestSent = [this](pid_t helper) {
            ++requests;
            if (onRequest) onRequest(helper);
        };
    }
    void TearDown() override {
        platform::PictureHelperTuning().onRequestSent = nullptr;
        ActivationTest::TearDown();
    }
    // The viewer sized so that its picture box is `box`, as a drag of its frame leaves it.
    void BoxTo(QSize box) {
        Form6->resize(platform::ClientSizeOf({box.width() + 10, box.height() + 30}));
        Form6->FormResize();
        ASSERT_EQ(Form6->Image1->size(), box);
    }
    // Waits in the event loop (bounded) until the viewer holds a picture of `size`.
    bool ViewerHolds(QSize size) {
        const auto holds = [&] { return Form6->Image1->Picture().Size() == size; };
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (holds()) loop.quit();
        });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        check.start(20);
        if (!holds()) loop.exec();
        return holds();
    }
    std::string photo;
    int requests = 0;
    std::function<void(pid_t)> onRequest;
};

TEST_F(ViewerResizeTest, AnEnlargedViewerGetsThePictureAgainOnceTheResizeSettles) {
    Form6->show();
    BoxTo({689, 457});
    Activate(photo);
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(700, 500));  // a quarter covers the box
    const int afterOpen = requests;
    // Smaller, or larger within what it holds: nothing is decoded again.
    BoxTo({400, 300});
    EXPECT_FALSE(Form6->ResizePending());
    BoxTo({700, 500});
    EXPECT_FALSE(Form6->ResizePending());
    EXPECT_EQ(requests, afterOpen);
    // A drag past it in several steps: one decode, once the size holds still.
    for (int w : {720, 800, 900}) BoxTo({w, 600});
    EXPECT_TRUE(Form6->ResizePending());
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(700, 500));  // shown stretched meanwhile
    ASSERT_TRUE(ViewerHolds({1400, 1000}));
    EXPECT_EQ(requests, afterOpen + 1);
    EXPECT_GT(Form6->Image1->Picture().Image().pixelColor(700, 500).red(), 200);
    // Past the whole picture's size: the whole picture, and never again after it.
    BoxTo({1500, 1100});
    ASSERT_TRUE(ViewerHolds({2800, 2000}));
    BoxTo({2900, 2100});
    EXPECT_FALSE(Form6->ResizePending());
    EXPECT_EQ(requests, afterOpen + 2);
    // The double-click brings it at the box's size again.
    BoxTo({689, 457});
    form->Image1DblClick();
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(700, 500));
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(ViewerResizeTest, AGoneFileAClosedViewerOrANewerPictureKeepWhatIsShown) {
    Form6->show();
    BoxTo({689, 457});
    Activate(photo);
    ASSERT_EQ(Form6->Image1->Picture().Size(), QSize(700, 500));
    // Closed before the resize settled: nothing is decoded for a window nobody sees.
    BoxTo({900, 600});
    ASSERT_TRUE(Form6->ResizePending());
    Form6->hide();
    int before = requests;
    Form6->ResizeSettled();
    EXPECT_EQ(requests, before);
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(700, 500));

    // Another picture arrives while the decode for the new size is on its way: it stays.
    Form6->show();
    BoxTo({689, 457});
    Activate(photo);
    const std::string blue = MakeBmp("blue.bmp", Qt::blue, {8, 4});
    onRequest = [&](pid_t helper) {
        onRequest = nullptr;
        ::kill(helper, SIGSTOP);
        QTimer::singleShot(0, [&] { Activate(blue); });
    };
    BoxTo({900, 600});
    Form6->ResizeSettled();
    EXPECT_TRUE(ViewerHolds({8, 4}));
    EXPECT_FALSE(Form6->ResizePending());
    BoxTo({1000, 700});
    EXPECT_FALSE(Form6->ResizePending());  // a bitmap comes whole: nothing to decode again

    // The file went since it was shown: the picture stays, no box on a resize, said on
    // standard error, and not tried again at every step.
    Activate(photo);
    BoxTo({689, 457});
    form->Image1DblClick();
    ASSERT_EQ(Form6->Image1->Picture().Size(), QSize(700, 500));
    platform::DeleteFile(photo);
    BoxTo({900, 600});
    testing::internal::CaptureStderr();
    Form6->ResizeSettled();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("photo.jpg"), std::string::npos) << err;
    EXPECT_EQ(Form6->Image1->Picture().Size(), QSize(700, 500));
    BoxTo({1000, 700});
    EXPECT_FALSE(Form6->ResizePending());
    EXPECT_TRUE(boxes->shown.empty());
}

}  // namespace
