#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace trv::service {

// The last reply to each read made with the configured unit address, with when it came: what
// every front end answers from without asking the line again.
class SharedValues {
public:
    struct Entry {
        std::string reply;     // the bytes received, carriage return included
        std::int64_t atMs = 0; // on the service's clock
    };

    // `command` as asked ("CR0").
    std::optional<Entry> get(const std::string& command) const;
    // The reply if it came less than `maxAgeMs` ago.
    std::optional<Entry> fresh(const std::string& command, std::int64_t nowMs,
                               std::int64_t maxAgeMs) const;
    void put(const std::string& command, std::string reply, std::int64_t atMs);
    void forget(const std::string& command) { entries_.erase(command); }
    void clear() { entries_.clear(); }

private:
    std::map<std::string, Entry> entries_;
};

} // namespace trv::service
