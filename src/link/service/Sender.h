#pragma once

#include <cstdint>
#include <string>

namespace trv::service {

// Who asked for an exchange: the front end, the client's address and a number that tells one
// client of a front end from another (a page's WebSocket, a PJLink connection).
struct Sender {
    enum class Kind { Bridge, Web, Api, Pjlink };
    Kind kind = Kind::Bridge;
    std::string address;  // the client's, as a person reads it; empty for the bridge itself
    std::uint64_t id = 0; // unique among the senders of the program's run; 0 for none

    // "web 127.0.0.1", "api 127.0.0.1", "pjlink 127.0.0.1", "bridge".
    std::string label() const;
    // A number no other sender of this run has.
    static std::uint64_t nextId();
    bool operator==(const Sender&) const = default;
};

} // namespace trv::service
