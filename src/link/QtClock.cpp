#include "link/QtClock.h"

#include "link/QtTimer.h"

#include <QDeadlineTimer>

namespace trv {

std::int64_t QtClock::nowMs() const { return QDeadlineTimer::current().deadline(); }

std::unique_ptr<Timer> QtClock::createTimer(int intervalMs, bool precise) {
    return std::make_unique<QtTimer>(intervalMs, precise);
}

} // namespace trv
