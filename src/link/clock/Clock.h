#pragma once

#include "link/clock/Timer.h"
#include "link/clock/WallTime.h"

#include <cstdint>
#include <memory>

namespace trv {

// Makes the timers that windows use, and tells the time, so tests can drive both by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // `precise` asks for millisecond accuracy (the press-and-hold repeat).
    virtual std::unique_ptr<Timer> createTimer(int intervalMs, bool precise) = 0;
    // Milliseconds on a clock that never goes back.
    virtual std::int64_t nowMs() const = 0;
    // The wall clock and the local offset, for records a person reads.
    virtual WallTime wallNow() const = 0;
};

} // namespace trv
