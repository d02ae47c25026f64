#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace trv::bridge::pjlink {

// How many searches are answered: see SearchLimiter.
struct SearchLimits {
    std::int64_t perSenderMs = 1000;
    std::size_t senders = 256; // followed at a time
    std::size_t pending = 64;  // answers waiting at a time
};

// Which searches get an answer, so that the bridge is no reflector: one sender is answered at
// most once a second (a search while its answer waits is answered by that one), the senders
// followed are bounded, and so are the answers waiting in total.
class SearchLimiter {
public:
    explicit SearchLimiter(SearchLimits limits = {}) : limits_(limits) {}

    // Whether a search from `sender` at `nowMs` is to be answered; if so, its answer waits
    // until answered() or dropped().
    bool admit(const std::string& sender, std::int64_t nowMs);
    void answered(const std::string& sender, std::int64_t nowMs);
    // The answer did not go out: the sender may search again as if it had.
    void dropped(const std::string& sender, std::int64_t nowMs) { answered(sender, nowMs); }
    std::size_t pending() const { return pending_; }
    std::size_t senders() const { return senders_.size(); }

private:
    struct Sender {
        bool waiting = false;
        std::int64_t lastMs = 0; // admitted or answered
    };
    void forgetQuiet(std::int64_t nowMs);

    SearchLimits limits_;
    std::map<std::string, Sender> senders_;
    std::size_t pending_ = 0;
};

} // namespace trv::bridge::pjlink
