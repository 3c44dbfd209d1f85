#pragma once
// Waiting for the form window in tests and benchmarks.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <functional>

namespace quellar::test {

// Runs the event loop until `done` holds or `timeoutMs` have passed. Unlike QTest::qWaitFor,
// which sleeps between rounds of events, it keeps the loop running: the browser engine hands
// the user-interface thread many small tasks, and sleeping after each makes a page load take
// seconds instead of a fraction of one.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs) loop.quit();
    });
    poll.start(2);
    loop.exec();
    return done();
}

} // namespace quellar::test
