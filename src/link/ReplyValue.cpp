#include "link/ReplyValue.h"

#include "link/EchoRule.h"
#include "link/ReplyDecoder.h"

#include <algorithm>
#include <charconv>

namespace trv {
namespace {

using Status = ReplyValue::Status;
using Power = ReplyValue::Power;

struct StatusRow {
    std::string_view shown;
    Status status;
    std::string_view word;
};

constexpr std::array kStatusRows{
    StatusRow{" Power ON", Status::On, "on"},
    StatusRow{" Stand by", Status::Standby, "standby"},
    StatusRow{" Count down", Status::WarmingUp, "warm-up"},
    StatusRow{" Cooling down", Status::Cooling, "cooling"},
    StatusRow{" Power abnormality", Status::PowerFault, "power-fault"},
    StatusRow{" Temperature abnormality", Status::TemperatureFault, "temperature-fault"},
    StatusRow{" Lamp Failure", Status::LampFault, "lamp-fault"},
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

Power powerOf(char digit) {
    switch (digit) {
    case '0':
        return Power::On;
    case '8':
        return Power::Standby;
    case '4':
        return Power::WarmingUp;
    case '2':
        return Power::Cooling;
    default:
        return Power::Fault;
    }
}

// A temperature field: blanks, an optional minus, digits and an optional fraction.
std::optional<double> temperature(std::string_view field) {
    field.remove_prefix(std::min(field.find_first_not_of(' '), field.size()));
    for (const char c : field) {
        // from_chars alone would also take "inf" and "nan".
        if (!isDigit(c) && c != '.' && c != '-')
            return std::nullopt;
    }
    double value = 0;
    const char* end = field.data() + field.size();
    const auto [stop, error] = std::from_chars(field.data(), end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<ReplyValue> ReplyValue::decode(std::string_view commandText, std::string_view reply) {
    // Only what the panel shows has a value, so that the two never tell different things.
    const std::optional<std::string> shown =
        decodeReply(commandText, renderEcho(reply).text, reply.size());
    if (!shown)
        return std::nullopt;
    if (commandText == "CR0\r") {
        for (const StatusRow& row : kStatusRows) {
            if (*shown == row.shown)
                return ReplyValue{StatusRead{row.status, powerOf(reply[0])}};
        }
        return std::nullopt;
    }
    if (commandText == "CR1\r")
        return ReplyValue{InputRead{reply[0] - '0'}};
    if (commandText == "CR4\r")
        return ReplyValue{SettingRead{shown->substr(shown->find_first_not_of(' '))}};
    // Hours and temperatures only from a whole reply, its carriage return at the end and the
    // temperatures apart, so that the numbers are the very characters the status line shows.
    if (reply.back() != '\r')
        return std::nullopt;
    if (commandText == "CR3\r") {
        int hours = 0;
        for (const char c : reply.substr(0, 5)) {
            if (!isDigit(c))
                return std::nullopt;
            hours = hours * 10 + (c - '0');
        }
        return ReplyValue{LampRead{hours}};
    }
    if (reply[5] != ' ' || reply[11] != ' ')
        return std::nullopt;
    TemperatureRead read{};
    for (std::size_t i = 0; i < read.celsius.size(); ++i) {
        const std::optional<double> celsius = temperature(reply.substr(i * 6, 5));
        if (!celsius)
            return std::nullopt;
        read.celsius[i] = *celsius;
    }
    return ReplyValue{read};
}

std::string_view ReplyValue::word(Status status) {
    for (const StatusRow& row : kStatusRows) {
        if (row.status == status)
            return row.word;
    }
    return {};
}

} // namespace trv
