#include "link/clock/QtClock.h"

#include "link/clock/QtTimer.h"

#include <QDateTime>
#include <QDeadlineTimer>

namespace trv {

std::int64_t QtClock::nowMs() const { return QDeadlineTimer::current().deadline(); }

WallTime QtClock::wallNow() const {
    const QDateTime now = QDateTime::currentDateTime();
    return {now.toMSecsSinceEpoch(), now.offsetFromUtc()};
}

std::unique_ptr<Timer> QtClock::createTimer(int intervalMs, bool precise) {
    return std::make_unique<QtTimer>(intervalMs, precise);
}

} // namespace trv
