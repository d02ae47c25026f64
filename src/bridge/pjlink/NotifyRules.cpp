#include "bridge/pjlink/NotifyRules.h"

namespace trv::bridge::pjlink {
namespace {

using Power = ProjectorStatus::Power;

std::optional<bool> litIn(Power power) {
    if (power == Power::Abnormal)
        return std::nullopt;
    return power == Power::On || power == Power::WarmingUp;
}

} // namespace

NotifyRules::Notices NotifyRules::lineUp() {
    if (!lost_)
        return {};
    lost_ = false;
    return serving();
}

NotifyRules::Notices NotifyRules::powerNow(Power power) {
    power_ = power;
    const std::optional<bool> lit = litIn(power);
    if (!lit)
        return {};
    const bool changed = lit_ && *lit_ != *lit;
    lit_ = lit;
    if (!changed)
        return {};
    return {{"POWR", *lit ? "1" : "0"}};
}

NotifyRules::Notices NotifyRules::inputNow(int input, bool always) {
    const bool changed = input_ ? *input_ != input : always;
    input_ = input;
    const std::optional<std::string> code = inputs_.code(input);
    if (!changed || !code)
        return {};
    return {{"INPT", *code}};
}

NotifyRules::Notices NotifyRules::acknowledged(std::string_view command) {
    // The projector takes a power command in any state and acts only where it can: on from
    // standby, off while lit. Not knowing the state, an acknowledged one is taken as done; the
    // next status read puts it right.
    if (command == "C00") {
        if (power_ && *power_ != Power::Standby)
            return {};
        lit_ = false;
        return powerNow(Power::WarmingUp);
    }
    if (command == "C01") {
        if (power_ && *power_ != Power::On && *power_ != Power::WarmingUp)
            return {};
        lit_ = true;
        return powerNow(Power::Cooling);
    }
    if (command.size() == 3 && command >= "C05" && command <= "C08")
        return inputNow(command[2] - '4', true);
    return {};
}

NotifyRules::Notices NotifyRules::statusRead(const ProjectorStatus& status) {
    Notices notices = powerNow(status.power);
    const std::string errors = status.errorValue();
    if (errors_ && *errors_ != errors)
        notices.push_back({"ERST", errors});
    errors_ = errors;
    return notices;
}

NotifyRules::Notices NotifyRules::inputRead(int input) { return inputNow(input, false); }

} // namespace trv::bridge::pjlink
