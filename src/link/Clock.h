#pragma once

#include "link/Timer.h"

#include <memory>

namespace trv {

// Makes the timers that windows use, so tests can drive them by hand.
class Clock {
public:
    virtual ~Clock() = default;
    // `precise` asks for millisecond accuracy (the press-and-hold repeat).
    virtual std::unique_ptr<Timer> createTimer(int intervalMs, bool precise) = 0;
};

} // namespace trv
