#include "link/clock/QtTimer.h"

namespace trv {

QtTimer::QtTimer(int intervalMs, bool precise) {
    timer_.setInterval(intervalMs);
    timer_.setTimerType(precise ? Qt::PreciseTimer : Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, &Timer::timeout);
}

void QtTimer::setInterval(int ms) { timer_.setInterval(ms); }

void QtTimer::setEnabled(bool enabled) {
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}

} // namespace trv
