#pragma once

#include "link/service/Sender.h"

#include <functional>
#include <string>

namespace trv::bridge::pjlink {

// The projector as the network side sees it: one PJLink request in, one reply value out, as
// soon as it is known.
class PjlinkDevice {
public:
    using Reply = std::function<void(const std::string& value)>;

    virtual ~PjlinkDevice() = default;

    // `classDigit` is the request's class ('1' or '2'), `command` its four letters in upper
    // case ("POWR"), `parameter` what follows the blank ("1", "?"). `reply` is called exactly
    // once with the value that goes after "=" ("OK", "ERR3", "1", "11 12 31 51"), at once or
    // later from the event loop. `from` is the client, as the line's traffic names it.
    virtual void request(char classDigit, const std::string& command, const std::string& parameter,
                         const service::Sender& from, Reply reply) = 0;
};

} // namespace trv::bridge::pjlink
