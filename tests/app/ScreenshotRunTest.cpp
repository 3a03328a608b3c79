// The program's unattended screenshot run: it must end by itself, boxes included.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <vector>

#include "app/ScreenshotRun.h"
#include "platform/Files.h"
#include "platform/Registry.h"

namespace {

using platform::BoxAnswer;
using platform::BoxKind;

QLabel* TextLabelOf(QMessageBox& box) { return box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")); }

TEST(MessageBoxes, UnattendedBoxesAreCapturedThenAnsweredByTheirEscapeButton) {
    UnattendedMessageBoxes boxes;
    boxes.answerAfterMs = 0;
    std::vector<QString> captured;
    boxes.capture = [&](QMessageBox& box) {
        EXPECT_TRUE(box.isVisible());
        captured.push_back(box.windowTitle() + QLatin1Char(':') + TextLabelOf(box)->text());
    };
    EXPECT_EQ(boxes.Show(BoxKind::Confirmation, QStringLiteral("自動起動の設定をしますか？")), BoxAnswer::No);
    EXPECT_EQ(boxes.Show(BoxKind::Error, QStringLiteral("I/O エラー (2)")), BoxAnswer::Ok);
    EXPECT_EQ(captured, (std::vector<QString>{QStringLiteral("確認:自動起動の設定をしますか？"),
                                              QStringLiteral("エラー:I/O エラー (2)")}));
}

TEST(MessageBoxes, YesIsTheOnlyAnswerThatProceeds) {
    UnattendedMessageBoxes boxes;
    boxes.answerAfterMs = 0;
    boxes.capture = [](QMessageBox& box) {
        for (QAbstractButton* b : box.buttons())
            if (b->text() == QStringLiteral("はい(&Y)")) b->click();
    };
    EXPECT_EQ(boxes.Show(BoxKind::Confirmation, QStringLiteral("q")), BoxAnswer::Yes);
}

TEST(ScreenshotRun, StartUpErrorBoxIsCapturedAndAnsweredAndTheRunEnds) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly");
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << program.toStdString();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const std::string root = tmp.path().toStdString();
    // Registered in a folder that has gone since: start-up shows an error box.
    platform::FileRegistry(root + "/config/tessaly", root + "/config/autostart", "tessaly")
        .WriteString("Run", "_KDR_", platform::AutostartValue(root + "/moved"));

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), tmp.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("TESSALY_SCREENSHOTS"), tmp.path() + QStringLiteral("/shots"));
    run.setProcessEnvironment(env);
    run.setWorkingDirectory(tmp.path());
    run.start(program, {});
    ASSERT_TRUE(run.waitForStarted(10000));
    const bool ended = run.waitForFinished(45000);
    if (!ended) run.kill(), run.waitForFinished(5000);
    ASSERT_TRUE(ended) << "the screenshot run waits for an answer nobody gives";
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    const QString out = QString::fromUtf8(run.readAllStandardOutput());
    for (const char* shot : {"box-1.png", "main-list-view.png", "extension-box-wmp.png", "help.png"}) {
        EXPECT_TRUE(out.contains(QString::fromLatin1(shot))) << shot;
        EXPECT_TRUE(QFileInfo(tmp.path() + QStringLiteral("/shots/") + QString::fromLatin1(shot)).size() > 0) << shot;
    }
}

}  // namespace
