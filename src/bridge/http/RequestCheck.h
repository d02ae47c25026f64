#pragma once

#include "bridge/http/HeadReader.h"

#include <cstddef>
#include <string>
#include <vector>

namespace trv::http {

// Whether a request head may go on to the server, and if not the status that answers it: the
// body's size and framing, the Host (against DNS rebinding) and, on state-changing requests
// and WebSocket upgrades, the Origin (against cross-site requests).
class RequestCheck {
public:
    // How the bridge is reached on one connection.
    struct Site {
        std::string scheme = "http";
        // The address the client connected to, with its port: "127.0.0.1:43118", "[::1]:80".
        std::string own;
        // Further names the bridge answers to, with or without a port ("panel.lan",
        // "panel.lan:8080"); one without a port is taken on any.
        std::vector<std::string> names;
    };
    struct Verdict {
        int status = 0; // 0: let through
        std::string reason;
        bool upgrade = false; // a WebSocket upgrade (let through or not)
        std::size_t bodyLength = 0;
    };

    static Verdict judge(const RequestHead& head, const Site& site, std::size_t bodyLimit);
};

} // namespace trv::http
