#include "bridge/pjlink/PjlinkMapping.h"

#include "link/ReplyValue.h"

#include <algorithm>

namespace trv::bridge::pjlink {
namespace {

ProjectorStatus::Power powerOf(ReplyValue::Power power) {
    switch (power) {
    case ReplyValue::Power::On:
        return ProjectorStatus::Power::On;
    case ReplyValue::Power::Standby:
        return ProjectorStatus::Power::Standby;
    case ReplyValue::Power::WarmingUp:
        return ProjectorStatus::Power::WarmingUp;
    case ReplyValue::Power::Cooling:
        return ProjectorStatus::Power::Cooling;
    case ReplyValue::Power::Fault:
        break;
    }
    return ProjectorStatus::Power::Abnormal;
}

// The value of a reply to `command`, when it is the kind of value asked for.
template <typename Read>
std::optional<Read> readOf(std::string_view command, std::string_view reply) {
    const std::optional<ReplyValue> value = ReplyValue::decode(command, reply);
    if (!value)
        return std::nullopt;
    return std::get<Read>(value->read);
}

} // namespace

std::optional<std::string> ProjectorStatus::powerValue() const {
    switch (power) {
    case Power::Standby:
        return "0";
    case Power::On:
        return "1";
    case Power::Cooling:
        return "2";
    case Power::WarmingUp:
        return "3";
    case Power::Abnormal:
        break;
    }
    return std::nullopt;
}

std::string ProjectorStatus::errorValue() const {
    std::string value = "000000";
    if (lampFault)
        value[1] = '2';
    if (temperatureFault)
        value[2] = '2';
    if (power == Power::Abnormal)
        value[5] = '2';
    return value;
}

std::optional<ProjectorStatus> decodeStatus(std::string_view reply) {
    const auto read = readOf<ReplyValue::StatusRead>("CR0\r", reply);
    if (!read)
        return std::nullopt;
    ProjectorStatus status;
    // The power state also behind a temperature or lamp fault.
    status.power = powerOf(read->power);
    status.temperatureFault = read->status == ReplyValue::Status::TemperatureFault;
    status.lampFault = read->status == ReplyValue::Status::LampFault;
    return status;
}

std::optional<int> decodeInput(std::string_view reply) {
    const auto read = readOf<ReplyValue::InputRead>("CR1\r", reply);
    return read ? std::optional(read->number) : std::nullopt;
}

std::optional<int> decodeLampHours(std::string_view reply) {
    const auto read = readOf<ReplyValue::LampRead>("CR3\r", reply);
    return read ? std::optional(read->hours) : std::nullopt;
}

std::optional<InputMap> InputMap::parse(std::string_view text, std::string& error) {
    InputMap map;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view pair = text.substr(at, comma - at);
        at = comma + 1;
        if (pair.empty())
            continue;
        const bool shaped = pair.size() == 4 && pair[0] >= '1' && pair[0] <= '5' &&
                            pair[1] == '=' && pair[2] >= '1' && pair[2] <= '5' && pair[3] >= '1' &&
                            pair[3] <= '9';
        if (!shaped) {
            error = "\"" + std::string(pair) +
                    "\" is not INPUT=CODE (an input 1 to 5 and a PJLink code such as 11 or 31)";
            return std::nullopt;
        }
        const std::string code(pair.substr(2));
        for (const auto& [input, other] : map.codes_) {
            if (other == code) {
                error = "the code " + code + " is given to two inputs";
                return std::nullopt;
            }
        }
        map.codes_[pair[0] - '0'] = code;
    }
    if (map.codes_.empty()) {
        error = "no input is mapped";
        return std::nullopt;
    }
    return map;
}

std::optional<std::string> InputMap::code(int input) const {
    const auto found = codes_.find(input);
    if (found == codes_.end())
        return std::nullopt;
    return found->second;
}

std::optional<int> InputMap::selectable(std::string_view code) const {
    for (const auto& [input, mapped] : codes_) {
        if (mapped == code && input <= 4)
            return input;
    }
    return std::nullopt;
}

std::string InputMap::list() const {
    std::string out;
    for (const auto& [input, code] : codes_) {
        if (input > 4)
            continue;
        if (!out.empty())
            out += ' ';
        out += code;
    }
    return out;
}

} // namespace trv::bridge::pjlink
