#pragma once

#include "link/ProjectorLink.h"
#include "link/TrafficLine.h"
#include "link/service/Sender.h"

#include <cstdint>
#include <string>

namespace trv::service {

// The line's state as the service tells it.
struct LineState {
    bool up = false;
    std::string port;          // what the line is: "COM3", "/dev/ttyUSB0", "host:port"
    std::string reason;        // why it is down; empty while up or before the first try
    std::int64_t retryMs = -1; // when down: the next try in this many ms; -1 for none planned
    bool operator==(const LineState&) const = default;
};

// The hold on the line, if any.
struct HoldState {
    bool active = false;
    std::string command; // "C47"
    Sender holder;
    bool operator==(const HoldState&) const = default;
};

// Something that happened on the line, for every front end that shows it.
struct ServiceEvent {
    enum class Kind {
        Traffic, // a record line: a send (with its sender), an arrival, a missing reply, open/lost
        Display, // the traffic displays and the status line changed, as the panel draws them
        Line,    // the line went down, came up, or its next try was planned
        Hold,    // a hold started or ended
        Values,  // the shared values (status cache) changed
    };
    Kind kind = Kind::Traffic;
    TrafficLine traffic;            // Traffic
    Sender sender;                  // Traffic: who sent it (a send only)
    ProjectorLink::Display display; // Display
    LineState line;                 // Line
    HoldState hold;                 // Hold
};

} // namespace trv::service
