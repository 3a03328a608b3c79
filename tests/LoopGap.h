#pragma once
// How long the window stops answering: the longest time between two turns of the event loop
// while a piece of work runs inside it, and for a while after it (the layout and painting it
// caused happen in later turns). A timer of a few milliseconds marks every turn.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace loopgap {

// Seconds of the longest gap; `work` runs once, from the loop, and `afterMs` follow it.
inline double LongestGap(const std::function<void()>& work, int afterMs = 500) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    QEventLoop loop;
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer::singleShot(0, &loop, [&] {
        work();
        end.start(afterMs);
    });
    ticker.start();
    last = clock.nsecsElapsed();
    loop.exec();
    // A turn is due every interval; only the time beyond it is the loop's.
    return static_cast<double>(std::max<qint64>(0, longest - 5'000'000)) / 1e9;
}

}  // namespace loopgap
