#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace trv::testing {

// Runs the event loop until `done` holds or a generous deadline passes; says whether it holds.
template <typename Done> bool spinUntil(Done done, int ms = 10000) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

} // namespace trv::testing
