// The program on a Wayland session: on Qt's Wayland platform under sway, through X when the
// Wayland platform cannot work, a plain line where nothing can; a second start raising the
// first; the idle countdown driven by what the compositor sees.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "support/DesktopServers.h"
#include "support/WaylandServers.h"
#include "search/SearchFixture.h"

namespace {

using testsupport::HeadlessSway;

// The program started as a user of the session would, in a folder of the test's.
class SessionCopy {
public:
    SessionCopy(const QString& folder, const std::vector<std::pair<QString, QString>>& set) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE",
                                 "XDG_ACTIVATION_TOKEN", "TESSALY_SCREENSHOTS"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("HOME"), folder);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), folder + QStringLiteral("/config"));
        env.insert(QStringLiteral("TESSALY_REPORT_INSTANCE"), QStringLiteral("1"));
        for (const auto& [k, v] : set) env.insert(k, v);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder);
        process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly"), {});
    }
    ~SessionCopy() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }
    // Waits until standard output holds a line starting with `prefix`, at most 60 s.
    bool Says(const QString& prefix) {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            out += QString::fromUtf8(process.readAllStandardOutput());
            for (const QString& line : out.split(QLatin1Char('\n')))
                if (line.startsWith(prefix)) return true;
            if (clock.elapsed() > 60000 || process.state() == QProcess::NotRunning) return false;
            process.waitForReadyRead(500);
        }
    }
    QString Err() { return err += QString::fromUtf8(process.readAllStandardError()); }
    QProcess process;
    QString out, err;
};

// The app_id of the focused window and whether the one with `appId` is urgent, from sway's
// tree.
void FindIn(const QJsonObject& node, const QString& appId, QString& focused, bool& urgent) {
    if (node.value(QStringLiteral("focused")).toBool()) focused = node.value(QStringLiteral("app_id")).toString();
    if (node.value(QStringLiteral("app_id")).toString() == appId) urgent = node.value(QStringLiteral("urgent")).toBool();
    for (const char* key : {"nodes", "floating_nodes"})
        for (const QJsonValue& child : node.value(QLatin1String(key)).toArray()) FindIn(child.toObject(), appId, focused, urgent);
}
QString Focused(HeadlessSway& sway, const QString& appId = {}, bool* urgent = nullptr) {
    QString focused;
    bool u = false;
    FindIn(QJsonDocument::fromJson(sway.Message({QStringLiteral("-t"), QStringLiteral("get_tree")}).toUtf8()).object(),
           appId, focused, u);
    if (urgent) *urgent = u;
    return focused;
}

std::vector<std::pair<QString, QString>> OnSway(const HeadlessSway& sway) {
    // The leak check's end-of-run scan aborts these copies under the sanitizers on sway.
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    return {{QStringLiteral("WAYLAND_DISPLAY"), QString::fromStdString(sway.Socket())},
            {QStringLiteral("XDG_RUNTIME_DIR"), sway.RuntimePath()},
            {QStringLiteral("ASAN_OPTIONS"), asan.isEmpty() ? QString() : asan + QStringLiteral(":detect_leaks=0")}};
}

class WaylandSessionRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }
    QTemporaryDir tmp;
};

TEST_F(WaylandSessionRun, TheWindowMapsOnQtsWaylandPlatformAndASecondStartRaisesIt) {
    HeadlessSway sway;
    ASSERT_TRUE(sway.Running()) << "sway did not start";
    SessionCopy first(tmp.path(), OnSway(sway));
    ASSERT_TRUE(first.Says(QStringLiteral("instance "))) << first.Err().toStdString();
    // sway shows the window: a native Wayland one (no X), with the program's own id.
    QString tree;
    for (int i = 0; i < 100 && !tree.contains(QStringLiteral("Tessaly Ver1.40")); ++i) {
        testsupport::RunEventsFor(100);
        tree = sway.Message({QStringLiteral("-t"), QStringLiteral("get_tree")});
    }
    EXPECT_TRUE(tree.contains(QStringLiteral("\"app_id\": \"tessaly\""))) << tree.toStdString();
    EXPECT_TRUE(tree.contains(QStringLiteral("\"shell\": \"xdg_shell\""))) << tree.toStdString();

    // Another window takes the focus, as the user's terminal would.
    QProcess other;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromStdString(sway.Socket()));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), sway.RuntimePath());
    other.setProcessEnvironment(env);
    other.start(QStringLiteral("/usr/bin/foot"), {QStringLiteral("sleep"), QStringLiteral("120")});
    ASSERT_TRUE(other.waitForStarted(10000));
    for (int i = 0; i < 100 && Focused(sway) != QLatin1String("foot"); ++i) testsupport::RunEventsFor(100);
    ASSERT_EQ(Focused(sway), QStringLiteral("foot"));
    testsupport::RunEventsFor(300);

    SessionCopy second(tmp.path(), OnSway(sway));
    ASSERT_TRUE(second.process.waitForFinished(60000));
    EXPECT_EQ(second.process.exitCode(), 0);
    const QString err = second.Err();
    EXPECT_TRUE(err.contains(QStringLiteral("already running"))) << err.toStdString();
    ASSERT_TRUE(first.Says(QStringLiteral("front "))) << first.out.toStdString();
    // What the second start said is what the first saw happen.
    if (first.out.contains(QStringLiteral("front active")))
        EXPECT_TRUE(err.contains(QStringLiteral("its window came to the front"))) << err.toStdString();
    else
        EXPECT_TRUE(err.contains(QStringLiteral("the desktop kept its window behind"))) << err.toStdString();
    // sway agrees: the window has the focus, or it is marked urgent.
    bool urgent = false;
    const QString focused = Focused(sway, QStringLiteral("tessaly"), &urgent);
    if (first.out.contains(QStringLiteral("front active")))
        EXPECT_EQ(focused, QStringLiteral("tessaly"));
    else
        EXPECT_TRUE(urgent) << focused.toStdString();
    other.kill();
    other.waitForFinished(5000);
}

TEST_F(WaylandSessionRun, WithoutAWorkingWaylandPlatformXIsUsedAndWithoutEitherOneLine) {
    testsupport::XvfbServer x;
    ASSERT_TRUE(x.Running());
    const QString nowhere = tmp.path() + QStringLiteral("/no-compositor");
    {
        // A Wayland session whose compositor does not answer, with an X display: runs on X.
        SessionCopy copy(tmp.path(), {{QStringLiteral("WAYLAND_DISPLAY"), nowhere},
                                      {QStringLiteral("DISPLAY"), QString::fromStdString(x.Name())}});
        EXPECT_TRUE(copy.Says(QStringLiteral("instance "))) << copy.Err().toStdString();
    }
    // Failure twin: neither works; one plain line and 1, no abort of Qt's.
    for (const auto& display : {QString(), QStringLiteral(":64999")}) {
        std::vector<std::pair<QString, QString>> set = {{QStringLiteral("WAYLAND_DISPLAY"), nowhere}};
        if (!display.isEmpty()) set.emplace_back(QStringLiteral("DISPLAY"), display);
        SessionCopy copy(tmp.path(), set);
        ASSERT_TRUE(copy.process.waitForFinished(60000));
        EXPECT_EQ(copy.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(copy.process.exitCode(), 1);
        const QString err = copy.Err();
        EXPECT_EQ(err.count(QLatin1Char('\n')), 1) << err.toStdString();
        EXPECT_TRUE(err.startsWith(QStringLiteral("tessaly: cannot open display (Wayland \"") + nowhere +
                                   QStringLiteral("\": no compositor answers; ")))
            << err.toStdString();
        EXPECT_TRUE(err.contains(display.isEmpty() ? QStringLiteral("DISPLAY is not set") : display))
            << err.toStdString();
    }
}

// The idle check of the main window against sway's idle notifications (org_kde_kwin_idle,
// which sway 1.7 offers), with keys typed through the virtual keyboard as another program's
// user would.
class SwayIdleCheck : public SearchFixture {
protected:
    void SetUp() override {
        SearchFixture::SetUp();
        ASSERT_TRUE(sway->Running());
        auto keys = std::make_unique<platform::SessionIdleKeyState>(
            QDBusConnection::connectToBus(bus.Address(), QStringLiteral("tessaly-sway-idle")), sway->Socket());
        ASSERT_EQ(keys->Source(), QStringLiteral("org_kde_kwin_idle"));
        platform::Current().keys = std::move(keys);
        form->CheckBox2->setChecked(true);
        form->CheckBox2Click();
        desktop->cursor = form->LastCursorPos;
        // The checks are the test's own, a second apart: the window's timer stays still.
        form->Timer3->SetEnabled(false);
        form->Timer4->SetEnabled(false);
    }
    void TearDown() override {
        platform::Current().keys.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("tessaly-sway-idle"));
        SearchFixture::TearDown();
    }
    // One idle check a second after the previous one, as the timer runs it.
    void Tick() {
        testsupport::RunEventsFor(1100);
        form->Timer3Timer();
    }
    testsupport::PrivateBus bus;
    std::unique_ptr<HeadlessSway> sway = std::make_unique<HeadlessSway>();
};

TEST_F(SwayIdleCheck, TypingIntoAnotherProgramResetsTheCountdownQuietLetsItRun) {
    Tick();
    Tick();
    Tick();
    const int counted = form->IdleSeconds;
    EXPECT_GE(counted, 1);
    Tick();
    EXPECT_EQ(form->IdleSeconds, counted + 1);  // runs while nothing happens
    ASSERT_TRUE(sway->Type(QStringLiteral("x")));
    testsupport::RunEventsFor(100);
    form->Timer3Timer();
    EXPECT_EQ(form->IdleSeconds, 0);
    EXPECT_EQ(form->Label10->text(), QStringLiteral("　　　　　　　　　　　　　"));
    Tick();
    Tick();
    EXPECT_GE(form->IdleSeconds, 1);
    // Failure twin: the compositor goes away; no input is invented, the countdown runs on.
    testing::internal::CaptureStderr();
    sway.reset();
    const int before = form->IdleSeconds;
    Tick();
    Tick();
    EXPECT_EQ(form->IdleSeconds, before + 2);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("the Wayland compositor closed the connection"), std::string::npos) << err;
}

}  // namespace
