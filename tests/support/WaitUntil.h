#pragma once
// The one way tests wait: in the event loop, for a condition, with a bound.
#include <QEventLoop>
#include <QTimer>
#include <functional>

namespace testwait {

// Runs the event loop until `done` holds, asking it every `everyMs`, at most `limitMs`.
// Whether it holds in the end.
inline bool WaitUntil(const std::function<bool()>& done, int limitMs, int everyMs = 20) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check, deadline;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(everyMs);
    deadline.start(limitMs);
    loop.exec();
    return done();
}

}  // namespace testwait
