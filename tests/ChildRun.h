#pragma once
// Runs some tests of this test program once more in a child process, with other settings
// that only take effect when an application starts (a scale, a display).
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

namespace testsupport {

// Runs the tests that `filter` selects with `env` (this process's environment plus those
// settings) and expects them to pass, `passed` of them.
inline void ExpectChildRunPasses(const QString& filter, const QProcessEnvironment& env, int passed) {
    QProcess run;
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=") + filter});
    ASSERT_TRUE(run.waitForStarted(10000));
    const bool ended = run.waitForFinished(120000);
    if (!ended) run.kill(), run.waitForFinished(5000);
    ASSERT_TRUE(ended);
    const QByteArray out = run.readAll();
    EXPECT_EQ(run.exitCode(), 0) << out.toStdString();
    const QByteArray summary = "[  PASSED  ] " + QByteArray::number(passed) + (passed == 1 ? " test" : " tests");
    EXPECT_TRUE(out.contains(summary)) << out.toStdString();
}

}  // namespace testsupport
