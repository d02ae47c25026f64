#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace trv::bridge::pjlink {

// What the projector's status read says, in PJLink's terms.
struct ProjectorStatus {
    enum class Power { Standby, On, Cooling, WarmingUp, Abnormal };
    Power power = Power::Standby;
    bool temperatureFault = false;
    bool lampFault = false;

    // "POWR ?" value: 0 standby, 1 on, 2 cooling, 3 warming up; nothing for a power fault.
    std::optional<std::string> powerValue() const;
    // "ERST ?" value: fan, lamp, temperature, cover, filter, other; 0 none, 2 error.
    std::string errorValue() const;
};

// The replies of the reads, decoded as the panel's status line decodes them. Nothing when the
// reply is not one the panel would decode.
std::optional<ProjectorStatus> decodeStatus(std::string_view reply); // "CR0"
std::optional<int> decodeInput(std::string_view reply);              // "CR1": 1 to 5
std::optional<int> decodeLampHours(std::string_view reply);          // "CR3"

// The PJLink input code of each projector input: 1 to 4 can be selected ("C05" to "C08"),
// 5 (wireless) is only ever read.
class InputMap {
public:
    static constexpr const char* kDefault = "1=11,2=12,3=31,4=51,5=52";

    // "1=11,2=12,...": projector input = PJLink code (a digit 1 to 5 and a digit 1 to 9).
    // Class 1 codes, which Class 2 clients use alike: a code of Class 2 alone (6x, xA to xZ)
    // would leave a Class 1 client's INPT ? without an answer while that input is on.
    // Nothing, with `error` saying why, when the text is not such a map.
    static std::optional<InputMap> parse(std::string_view text, std::string& error);

    std::optional<std::string> code(int input) const;
    // The projector input selected by a PJLink code, if it can be selected.
    std::optional<int> selectable(std::string_view code) const;
    // "INST ?" value: the codes that can be selected, in input order.
    std::string list() const;

private:
    std::map<int, std::string> codes_;
};

} // namespace trv::bridge::pjlink
