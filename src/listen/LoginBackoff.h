#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <string>

namespace trv {
class Clock;
}

namespace trv::listen {

// Failed logins per address: after a few, the address waits before it may try again, a wait
// that doubles with each further failure up to a ceiling, and ends with a success. One is
// shared by every front end of the program, so that guessing through one costs the same as
// through another, and other addresses are never slowed.
class LoginBackoff {
public:
    static constexpr int kFreeFailures = 3; // the third failure starts the first wait
    static constexpr std::int64_t kFirstWaitMs = 1000;
    static constexpr std::int64_t kLastWaitMs = 30000;
    // An address without a failure this long starts afresh.
    static constexpr std::int64_t kForgetMs = 10 * 60 * 1000;
    // Addresses remembered at most; beyond it the one quiet longest is forgotten.
    static constexpr std::size_t kMaxAddresses = 4096;

    explicit LoginBackoff(const Clock& clock) : clock_(clock) {}

    // How long `key` must still wait before a login is looked at; 0 when it may try now.
    std::int64_t waitMs(const QString& key) const;
    bool waiting(const QString& key) const { return waitMs(key) > 0; }
    // `frontend` names where it failed ("pjlink", "http"), for the counts below.
    void failed(const QString& key, const char* frontend = "other");
    void succeeded(const QString& key);
    std::size_t size() const { return entries_.size(); }
    // Failed logins through `frontend` since the start, whatever the address.
    std::uint64_t failures(const std::string& frontend) const {
        const auto found = failuresBy_.find(frontend);
        return found == failuresBy_.end() ? 0 : found->second;
    }

private:
    struct Entry {
        int failures = 0;
        std::int64_t lastMs = 0;
        std::int64_t untilMs = 0;
    };
    void prune(std::int64_t nowMs);

    const Clock& clock_;
    std::map<QString, Entry> entries_;
    std::map<std::string, std::uint64_t> failuresBy_;
};

} // namespace trv::listen
