#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace trv::bridge::pjlink {

// The names Class 2 clients are given for the inputs they can select (INNM), by projector
// input 1 to 4, as the projector's panel names them unless the configuration says otherwise.
class PjlinkInputNames {
public:
    static constexpr const char* kDefault = "1=INPUT 1,2=INPUT 2,3=INPUT 3,4=INPUT 4";
    // A name is UTF-8 text of at most this many bytes, as an INNM reply carries it.
    static constexpr std::size_t kMaxName = 128;

    PjlinkInputNames();

    // "1=PC,3=HDMI": projector input = name, the inputs not given keeping their default.
    // Nothing, with `error` saying why, when the text is not such a list.
    static std::optional<PjlinkInputNames> parse(std::string_view text, std::string& error);

    // The name of input 1 to 4; empty for any other.
    std::string name(int input) const;

private:
    std::array<std::string, 4> names_;
};

} // namespace trv::bridge::pjlink
