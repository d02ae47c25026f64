#include "bridge/pjlink/SearchLimiter.h"

namespace trv::bridge::pjlink {

void SearchLimiter::forgetQuiet(std::int64_t nowMs) {
    for (auto it = senders_.begin(); it != senders_.end();) {
        if (!it->second.waiting && nowMs - it->second.lastMs >= limits_.perSenderMs)
            it = senders_.erase(it);
        else
            ++it;
    }
}

bool SearchLimiter::admit(const std::string& sender, std::int64_t nowMs) {
    auto found = senders_.find(sender);
    if (found != senders_.end()) {
        if (found->second.waiting || nowMs - found->second.lastMs < limits_.perSenderMs)
            return false;
    } else {
        if (senders_.size() >= limits_.senders)
            forgetQuiet(nowMs);
        if (senders_.size() >= limits_.senders)
            return false;
    }
    if (pending_ >= limits_.pending)
        return false;
    senders_[sender] = {true, nowMs};
    ++pending_;
    return true;
}

void SearchLimiter::answered(const std::string& sender, std::int64_t nowMs) {
    const auto found = senders_.find(sender);
    if (found == senders_.end() || !found->second.waiting)
        return;
    found->second = {false, nowMs};
    --pending_;
}

} // namespace trv::bridge::pjlink
