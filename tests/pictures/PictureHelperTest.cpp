// Pictures decoded in the helper process: every kind comes back as the picture or the
// loader's own error, bombs stay within the budget while the window answers, and a helper
// that crashes, hangs or is killed costs one picture.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "PictureMaker.h"
#include "pictures/PictureHelper.h"
#include "pictures/Pictures.h"

namespace {

using namespace picturemaker;

long StatusKb(pid_t pid, const char* field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

bool Alive(pid_t pid) {
    // The helper is not our child: gone means gone from /proc (or a zombie of init's).
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all;
    std::getline(in, all);
    const size_t close = all.rfind(')');
    return close != std::string::npos && close + 2 < all.size() && all[close + 2] != 'Z';
}

class PictureHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        platform::PictureHelperTuning() = platform::PictureHelperSettings{};
    }
    void TearDown() override {
        platform::PictureHelperTuning() = platform::PictureHelperSettings{};
        platform::StopPictureHelpers();
    }
    std::string P(const std::string& name) const { return tmp_.path().toStdString() + "/" + name; }
    std::string Jpeg(const std::string& name, QColor colour) {
        QImage img(64, 48, QImage::Format_RGB32);
        img.fill(colour);
        EXPECT_TRUE(img.save(QString::fromStdString(P(name)), "JPG", 95));
        return P(name);
    }
    // The error text the helper passed on, or "" when the picture loaded.
    static std::string ErrorOf(const std::string& path) {
        try {
            platform::LoadPictureContained(path);
            return std::string();
        } catch (const EInvalidGraphic& e) {
            return e.what();
        }
    }
    QTemporaryDir tmp_;
};

TEST_F(PictureHelperTest, EveryKindComesBackAsPixelsOrTheLoadersOwnError) {
    QImage two(20, 10, QImage::Format_RGB32);
    two.fill(Qt::blue);
    QPainter(&two).fillRect(0, 0, 10, 10, Qt::red);
    ASSERT_TRUE(two.save(QString::fromStdString(P("a.bmp")), "BMP"));
    ASSERT_TRUE(two.save(QString::fromStdString(P("a.ICO")), "ICO"));
    ASSERT_TRUE(two.save(QString::fromStdString(P("a.jpg")), "JPG", 95));
    QImage indexed = two.convertToFormat(QImage::Format_Indexed8);
    ASSERT_TRUE(indexed.save(QString::fromStdString(P("indexed.bmp")), "BMP"));
    Write(P("r.wmf"), RedWmf());
    Write(P("b.EMF"), BlueEmf());
    const struct {
        const char* name;
        QSize size;
        QColor left, right;
    } good[] = {
        {"a.bmp", {20, 10}, Qt::red, Qt::blue},
        {"indexed.bmp", {20, 10}, Qt::red, Qt::blue},
        {"a.ICO", {20, 10}, Qt::red, Qt::blue},
        {"a.jpg", {20, 10}, Qt::red, Qt::blue},
        // Metafiles come drawn at their proportions, at least 1024 wide.
        {"r.wmf", {1024, 512}, Qt::red, Qt::red},
        {"b.EMF", {1024, 506}, Qt::blue, Qt::blue},  // the metafile player reads it as 200 x 99
    };
    for (const auto& g : good) {
        SCOPED_TRACE(g.name);
        const platform::Picture pic = platform::LoadPictureContained(P(g.name));
        ASSERT_FALSE(pic.IsNull());
        EXPECT_EQ(pic.Size(), g.size);
        const QImage scaled = pic.Scaled({100, 100});
        EXPECT_TRUE(Near(scaled.pixelColor(20, 50), g.left)) << scaled.pixelColor(20, 50).name().toStdString();
        EXPECT_TRUE(Near(scaled.pixelColor(80, 50), g.right)) << scaled.pixelColor(80, 50).name().toStdString();
    }

    // The failure twins: the same text as the loader gives in this process.
    const std::string jpeg = Read(P("a.jpg"));
    Write(P("cut.jpg"), jpeg.substr(0, jpeg.size() / 2));
    Write(P("broken.bmp"), "BMnot really");
    Write(P("cut.wmf"), RedWmf().substr(0, 30));
    Write(P("text.emf"), std::string(200, 'x'));
    ASSERT_EQ(mkfifo(P("pipe.jpg").c_str(), 0644), 0);
    for (const char* name : {"cut.jpg", "broken.bmp", "cut.wmf", "text.emf", "missing.ico", "pipe.jpg", "a.png"}) {
        SCOPED_TRACE(name);
        std::string here;
        try {
            platform::LoadPicture(P(name));
        } catch (const EInvalidGraphic& e) {
            here = e.what();
        }
        ASSERT_FALSE(here.empty());
        EXPECT_EQ(ErrorOf(P(name)), here);
    }
    // Failures are answers, not faults: the same helper served them all.
    EXPECT_EQ(platform::PictureHelperPids().size(), 1u);
}

TEST_F(PictureHelperTest, AThumbnailComesReducedOnlyFromALargeJpeg) {
    QImage photo(640, 480, QImage::Format_RGB32);
    photo.fill(Qt::green);
    ASSERT_TRUE(photo.save(QString::fromStdString(P("photo.jpg")), "JPG", 95));
    ASSERT_TRUE(photo.save(QString::fromStdString(P("photo.bmp")), "BMP"));
    const platform::Thumbnail jpeg = platform::LoadThumbnailContained(P("photo.jpg"), QSize(54, 48));
    EXPECT_FALSE(jpeg.whole);
    EXPECT_EQ(jpeg.picture.Size(), QSize(80, 60));
    EXPECT_TRUE(Near(jpeg.picture.Image().pixelColor(40, 30), Qt::green));
    // Other kinds have no cheaper way: they come whole.
    const platform::Thumbnail bmp = platform::LoadThumbnailContained(P("photo.bmp"), QSize(54, 48));
    EXPECT_TRUE(bmp.whole);
    EXPECT_EQ(bmp.picture.Size(), QSize(640, 480));
    // Without a size, or one the picture does not exceed twice, the JPEG comes whole.
    EXPECT_TRUE(platform::LoadThumbnailContained(P("photo.jpg"), QSize()).whole);
    const platform::Thumbnail big = platform::LoadThumbnailContained(P("photo.jpg"), QSize(400, 300));
    EXPECT_TRUE(big.whole);
    EXPECT_EQ(big.picture.Size(), QSize(640, 480));
    // A cut file is the loader's error at a reduction as well.
    const std::string all = Read(P("photo.jpg"));
    Write(P("cut.jpg"), all.substr(0, all.size() / 2));
    EXPECT_THROW(platform::LoadThumbnailContained(P("cut.jpg"), QSize(54, 48)), EInvalidGraphic);
}

TEST_F(PictureHelperTest, BombsAreRefusedWithinTheBudgetWhileTheWindowAnswers) {
    WriteProgressiveJpeg(P("small.jpg"), 64, 64, 0);
    Write(P("huge-progressive.jpg"), WithDeclaredSize(Read(P("small.jpg")), 65500, 65500));
    Write(P("wide-progressive.jpg"), WithDeclaredSize(Read(P("small.jpg")), 30000, 20000));
    WriteProgressiveJpeg(P("many-scans.jpg"), 1024, 768, 6);
    Write(P("bitmap-bomb.wmf"), BitmapBombWmf());
    // 288 MB of pixels in 32 bits from a few dozen bytes: past the readers' allocation limit.
    Write(P("few-colours.bmp"), TwoColourRleBmp(9000, 8000));
    ASSERT_LT(Read(P("huge-progressive.jpg")).size(), 8000u);
    ASSERT_LT(Read(P("bitmap-bomb.wmf")).size(), 2000u);
    // An ordinary progressive file still shows, and so does one of 64 scans.
    WriteProgressiveJpeg(P("ordinary.jpg"), 300, 200, -1);
    WriteProgressiveJpeg(P("64-scans.jpg"), 300, 200, 0);
    EXPECT_EQ(ErrorOf(P("64-scans.jpg")), "");
    EXPECT_EQ(ErrorOf(P("ordinary.jpg")), "");

    const long ourPeakBefore = StatusKb(getpid(), "VmHWM:");
    const struct {
        const char* name;
        const char* reason;  // empty: any clear error (the metafile's own limits may differ)
    } bombs[] = {
        {"huge-progressive.jpg", "画像が大きすぎます"},
        {"wide-progressive.jpg", "画像が大きすぎます"},
        {"many-scans.jpg", "スキャンが多すぎます"},
        {"bitmap-bomb.wmf", ""},
        {"few-colours.bmp", "ビットマップとして読めません"},
    };
    for (const auto& b : bombs) {
        SCOPED_TRACE(b.name);
        // The window's timers keep ticking while the helper works.
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, longestGap = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        tick.start(10);
        pid_t helper = -1;
        platform::PictureHelperTuning().onRequestSent = [&helper](pid_t pid) { helper = pid; };
        std::string error;
        platform::Picture shown;
        try {
            shown = platform::LoadPictureContained(P(b.name));
        } catch (const EInvalidGraphic& e) {
            error = e.what();
        }
        tick.stop();
        platform::PictureHelperTuning().onRequestSent = nullptr;
        longestGap = std::max(longestGap, clock.elapsed() - last);
        EXPECT_LT(longestGap, 500) << "the window stood still";
        EXPECT_LT(clock.elapsed(), 5000);
        if (*b.reason) {
            EXPECT_NE(error.find(b.reason), std::string::npos) << error;
        }
        if (!error.empty()) {
            EXPECT_NE(error.find(P(b.name)), std::string::npos) << error;
        } else {
            EXPECT_FALSE(shown.IsNull());
        }
        // The helper, if it lives on, stayed within the budget above what it needs to run.
        ASSERT_GT(helper, 0);
        if (Alive(helper)) {
            const long peak = StatusKb(helper, "VmHWM:");
            EXPECT_LT(peak * 1024ll, static_cast<long long>(platform::kPictureBudgetBytes) + 400ll * 1024 * 1024) << peak;
        }
    }
    // Nothing of the bombs reached this process.
    EXPECT_LT(StatusKb(getpid(), "VmHWM:") - ourPeakBefore, 100 * 1024);
    // And the next picture shows.
    EXPECT_EQ(ErrorOf(Jpeg("after.jpg", Qt::green)), "");
}

TEST_F(PictureHelperTest, AHelperThatCrashesHangsOrIsKilledCostsOnePicture) {
    // Long enough for a sanitizer build's helper to report its crash and end.
    platform::PictureHelperTuning().deadlineMs = 2500;
    const std::string good = Jpeg("good.jpg", Qt::red);
    ASSERT_EQ(ErrorOf(good), "");  // a helper is up
    // Long enough to decode that the signal lands while the helper is at it.
    WriteFlatJpeg(P("slow.jpg"), 6000, 4000);
    const std::string slow = P("slow.jpg");
    const struct {
        const char* what;
        int signal;
        const char* reason;
    } faults[] = {
        {"crash", SIGSEGV, "読み込み中に異常が起きました"},
        {"killed", SIGKILL, "読み込み中に異常が起きました"},
        // What a call the filter refuses would do, were it set to kill.
        {"killed by the filter", SIGSYS, "読み込み中に異常が起きました"},
        {"endless loop", SIGSTOP, "読み込みに時間がかかりすぎます"},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.what);
        pid_t victim = -1;
        platform::PictureHelperTuning().onRequestSent = [&](pid_t pid) {
            victim = pid;
            ::kill(pid, f.signal);
        };
        QElapsedTimer clock;
        clock.start();
        const std::string error = ErrorOf(slow);
        EXPECT_NE(error.find(f.reason), std::string::npos) << error;
        EXPECT_NE(error.find(slow), std::string::npos) << error;
        EXPECT_LT(clock.elapsed(), 4000);
        platform::PictureHelperTuning().onRequestSent = nullptr;
        // The faulty helper is gone (a stopped one too), and the next picture shows.
        for (int i = 0; i < 200 && Alive(victim); ++i) usleep(5000);
        EXPECT_FALSE(Alive(victim));
        const std::vector<pid_t> now = platform::PictureHelperPids();
        EXPECT_EQ(std::count(now.begin(), now.end(), victim), 0);
        EXPECT_EQ(ErrorOf(good), "");
    }
    // A helper that died while it waited for work: the picture still shows.
    const std::vector<pid_t> idle = platform::PictureHelperPids();
    ASSERT_EQ(idle.size(), 1u);
    ::kill(idle[0], SIGKILL);
    for (int i = 0; i < 200 && Alive(idle[0]); ++i) usleep(5000);
    EXPECT_EQ(ErrorOf(good), "");
}

TEST_F(PictureHelperTest, AMissingOrBrokenHelperProgramIsAClearErrorNotAHang) {
    const std::string good = Jpeg("good.jpg", Qt::red);
    platform::StopPictureHelpers();
    platform::PictureHelperTuning().program = P("no-such-helper");
    EXPECT_NE(ErrorOf(good).find("画像を読み込むプログラムを起動できません"), std::string::npos);
    // A program that never says hello, and one that says something else.
    Write(P("silent"), "#!/bin/sh\nexec sleep 30\n");
    Write(P("chatty"), "#!/bin/sh\nprintf 'hello, I am not a picture helper' >&3\nexec sleep 30\n");
    ::chmod(P("silent").c_str(), 0755);
    ::chmod(P("chatty").c_str(), 0755);
    platform::PictureHelperTuning().startMs = 500;
    for (const char* program : {"silent", "chatty"}) {
        SCOPED_TRACE(program);
        platform::StopPictureHelpers();
        platform::PictureHelperTuning().program = P(program);
        QElapsedTimer clock;
        clock.start();
        const std::string error = ErrorOf(good);
        EXPECT_FALSE(error.empty());
        EXPECT_NE(error.find(good), std::string::npos) << error;
        EXPECT_LT(clock.elapsed(), 3000);
    }
    platform::StopPictureHelpers();
    // The real helper again, with the time a checked build's helper needs to start.
    platform::PictureHelperTuning() = platform::PictureHelperSettings{};
    EXPECT_EQ(ErrorOf(good), "");
}

// A picture asked for while another is being decoded (a timer's activation, say) gets a
// helper of its own; both arrive.
TEST_F(PictureHelperTest, APictureAskedForDuringAnotherGetsItsOwnHelper) {
    const std::string red = Jpeg("red.jpg", Qt::red);
    const std::string blue = Jpeg("blue.jpg", Qt::blue);
    platform::Picture inner;
    bool asked = false;
    platform::PictureHelperTuning().onRequestSent = [&](pid_t) {
        if (asked) return;
        asked = true;
        QTimer::singleShot(0, [&] { inner = platform::LoadPictureContained(blue); });
    };
    const platform::Picture outer = platform::LoadPictureContained(red);
    EXPECT_TRUE(Near(outer.Image().pixelColor(5, 5), Qt::red));
    // The inner load ran inside the outer wait, unless the outer answer came first.
    for (int i = 0; i < 100 && inner.IsNull(); ++i) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_FALSE(inner.IsNull());
    EXPECT_TRUE(Near(inner.Image().pixelColor(5, 5), Qt::blue));
    EXPECT_LE(platform::PictureHelperPids().size(), 1u);  // one stays ready, the other went
}

}  // namespace
