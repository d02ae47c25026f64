#include "listen/LoginBackoff.h"

#include "link/clock/Clock.h"

#include <algorithm>

namespace trv::listen {

std::int64_t LoginBackoff::waitMs(const QString& key) const {
    const auto found = entries_.find(key);
    if (found == entries_.end())
        return 0;
    return std::max<std::int64_t>(0, found->second.untilMs - clock_.nowMs());
}

void LoginBackoff::failed(const QString& key, const char* frontend) {
    ++failuresBy_[frontend];
    const std::int64_t now = clock_.nowMs();
    if (!entries_.count(key) && entries_.size() >= kMaxAddresses)
        prune(now);
    Entry& entry = entries_[key];
    if (entry.failures > 0 && now - entry.lastMs > kForgetMs && now >= entry.untilMs)
        entry = {};
    ++entry.failures;
    entry.lastMs = now;
    if (entry.failures >= kFreeFailures) {
        const int doublings = std::min(entry.failures - kFreeFailures, 16);
        const std::int64_t wait = std::min(kFirstWaitMs << doublings, kLastWaitMs);
        entry.untilMs = std::max(entry.untilMs, now + wait);
    }
}

void LoginBackoff::succeeded(const QString& key) { entries_.erase(key); }

void LoginBackoff::prune(std::int64_t nowMs) {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (nowMs - it->second.lastMs > kForgetMs && nowMs >= it->second.untilMs)
            it = entries_.erase(it);
        else
            ++it;
    }
    if (entries_.size() < kMaxAddresses)
        return;
    const auto quietest =
        std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a.second.lastMs < b.second.lastMs;
        });
    entries_.erase(quietest);
}

} // namespace trv::listen
