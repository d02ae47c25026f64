#pragma once

#include <cstdint>

namespace trv {

// How the serial line runs: speed, character frame and flow control ("9600,N,8,1" is 9600 baud,
// no parity, 8 data bits, 1 stop bit, and no flow control).
struct LineSettings {
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };
    enum class FlowControl { None, Software, Hardware };

    std::int32_t baudRate = 9600;
    int dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    FlowControl flowControl = FlowControl::None;

    bool operator==(const LineSettings&) const = default;
};

} // namespace trv
