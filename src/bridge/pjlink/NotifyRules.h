#pragma once

#include "bridge/pjlink/PjlinkMapping.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trv::bridge::pjlink {

// Which status notifications a change seen on the line calls for, from what was known before:
// the power going lit (warming up, on) or unlit (cooling, standby), the error status, the input,
// and the bridge or its line becoming ready.
class NotifyRules {
public:
    // One notification: "POWR" and "1" go out as "%2POWR=1"; LKUP's value (the MAC) is the
    // sender's to fill in.
    struct Notice {
        std::string command;
        std::string value;
        bool operator==(const Notice&) const = default;
    };
    using Notices = std::vector<Notice>;

    explicit NotifyRules(InputMap inputs) : inputs_(std::move(inputs)) {}
    void setInputs(InputMap inputs) { inputs_ = std::move(inputs); }

    // The bridge serves PJLink from now on.
    Notices serving() { return {{"LKUP", {}}}; }
    // The line is up: ready again if it was down since the bridge began.
    Notices lineUp();
    void lineDown() { lost_ = true; }
    // A command to the configured unit that the projector acknowledged ("C00", "C05").
    Notices acknowledged(std::string_view command);
    // A status read ("CR0") or an input read ("CR1") of the configured unit, decoded.
    Notices statusRead(const ProjectorStatus& status);
    Notices inputRead(int input);

private:
    Notices powerNow(ProjectorStatus::Power power);
    Notices inputNow(int input, bool always);

    InputMap inputs_;
    bool lost_ = false;
    std::optional<ProjectorStatus::Power> power_;
    std::optional<bool> lit_; // kept through a power fault, which tells neither
    std::optional<std::string> errors_;
    std::optional<int> input_;
};

} // namespace trv::bridge::pjlink
