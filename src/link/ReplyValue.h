#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace trv {

// The reply to one of the five decoded reads as data, for programs rather than the status line.
struct ReplyValue {
    // What the status line says.
    enum class Status { On, Standby, WarmingUp, Cooling, PowerFault, TemperatureFault, LampFault };
    // The power state of the status reply's first digit, which a fault on the status line hides.
    enum class Power { On, Standby, WarmingUp, Cooling, Fault };

    struct StatusRead {
        Status status;
        Power power;
    };
    struct InputRead {
        int number; // 1 to 5
    };
    struct SettingRead {
        std::string words; // the status line's words
    };
    struct LampRead {
        int hours;
    };
    struct TemperatureRead {
        std::array<double, 3> celsius; // in the order of the reply
    };

    std::variant<StatusRead, InputRead, SettingRead, LampRead, TemperatureRead> read;

    // The value of `reply`, the bytes received after `commandText` went out (as sent, carriage
    // return included). Nothing unless the panel decodes the reply to that command, nor when
    // the hours or temperatures it shows are not numbers.
    static std::optional<ReplyValue> decode(std::string_view commandText, std::string_view reply);
    // "on", "standby", "warm-up", "cooling", "power-fault", "temperature-fault", "lamp-fault".
    static std::string_view word(Status status);
};

} // namespace trv
