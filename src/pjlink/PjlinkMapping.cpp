#include "pjlink/PjlinkMapping.h"

#include "link/EchoRule.h"
#include "link/ReplyDecoder.h"

#include <charconv>

namespace trv::pjlink {
namespace {

// The panel's status-line text for a reply to `command`, as it shows it.
std::optional<std::string> panelText(std::string_view command, std::string_view reply) {
    return decodeReply(command, renderEcho(reply).text, reply.size());
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

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
    const std::optional<std::string> text = panelText("CR0\r", reply);
    if (!text)
        return std::nullopt;
    ProjectorStatus status;
    // The first digit is the power state, also behind a temperature or lamp fault.
    switch (reply[0]) {
    case '0':
        status.power = ProjectorStatus::Power::On;
        break;
    case '8':
        status.power = ProjectorStatus::Power::Standby;
        break;
    case '4':
        status.power = ProjectorStatus::Power::WarmingUp;
        break;
    case '2':
        status.power = ProjectorStatus::Power::Cooling;
        break;
    default:
        status.power = ProjectorStatus::Power::Abnormal;
        break;
    }
    status.temperatureFault = *text == " Temperature abnormality";
    status.lampFault = *text == " Lamp Failure";
    if (status.temperatureFault && reply[0] == '1')
        status.power = ProjectorStatus::Power::Abnormal;
    return status;
}

std::optional<int> decodeInput(std::string_view reply) {
    if (!panelText("CR1\r", reply))
        return std::nullopt;
    return reply[0] - '0';
}

std::optional<int> decodeLampHours(std::string_view reply) {
    // The panel shows the hours of a reply of five digits and a carriage return only.
    if (reply.size() != 6 || reply[5] != '\r' || !panelText("CR3\r", reply))
        return std::nullopt;
    int hours = 0;
    for (char c : reply.substr(0, 5)) {
        if (!isDigit(c))
            return std::nullopt;
        hours = hours * 10 + (c - '0');
    }
    return hours;
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

} // namespace trv::pjlink
