#pragma once

#include "link/ReplyValue.h"

#include <cstdint>
#include <optional>
#include <string>

namespace trv {

// One command and its answer, as the panel's displays would show them.
struct ExchangeResult {
    std::string command;  // as asked, without unit address or carriage return ("C00")
    std::string sent;     // what went out, unit address and carriage return included
    std::string received; // what came back
    std::string tx, rx;   // the echoes of both directions
    std::optional<std::string> decoded;
    std::optional<ReplyValue> value; // the decoded reply as data
    bool replied = false;
    std::int64_t sentAtMs = 0; // on the sender's clock
    std::int64_t replyMs = -1; // from the send to the end of the reply
};

} // namespace trv
