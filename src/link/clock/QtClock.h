#pragma once

#include "link/clock/Clock.h"

namespace trv {

// Clock whose timers are QTimers.
class QtClock final : public Clock {
public:
    std::unique_ptr<Timer> createTimer(int intervalMs, bool precise) override;
    std::int64_t nowMs() const override;
    WallTime wallNow() const override;
};

} // namespace trv
