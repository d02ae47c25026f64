#pragma once

#include "link/clock/WallTime.h"

#include <string>
#include <string_view>

namespace trv {

// One line of the traffic record: when, on which port, which way, as drawn, and the bytes.
struct TrafficLine {
    enum class Direction { Tx, Rx, Event };

    WallTime time;
    std::string port;
    Direction direction = Direction::Event;
    std::string text;  // as the traffic displays draw it, or what happened
    std::string bytes; // what went over the line; empty for an event

    // The fields separated by tabs, ending in a newline.
    std::string format() const;
    // Local time with milliseconds and the offset: "2026-12-07T19:20:01.123+01:00".
    static std::string isoTime(WallTime time);
    // Two upper-case digits a byte, separated by blanks.
    static std::string hex(std::string_view bytes);
};

} // namespace trv
