#include "link/QtClock.h"

#include "link/QtTimer.h"

namespace trv {

std::unique_ptr<Timer> QtClock::createTimer(int intervalMs, bool precise) {
    return std::make_unique<QtTimer>(intervalMs, precise);
}

} // namespace trv
