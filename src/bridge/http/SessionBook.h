#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <map>

namespace trv {
class Clock;
}

namespace trv::http {

// The web panel's logged-in sessions: random ids handed out at login, each valid until it has
// not been used for 12 hours or is ended, and at most a bounded number of them, the one unused
// longest giving way to a newcomer.
class SessionBook {
public:
    static constexpr std::int64_t kIdleMs = 12LL * 60 * 60 * 1000;
    static constexpr std::size_t kMaxSessions = 1024;

    explicit SessionBook(const Clock& clock, std::size_t maxSessions = kMaxSessions)
        : clock_(clock), max_(maxSessions) {}

    // A new session: 128 random bits from the system's generator, as 32 hexadecimal digits.
    QByteArray open();
    // Whether `id` is a live session; using it keeps it alive.
    bool use(const QByteArray& id);
    // Ends one session; nothing when there is none.
    void end(const QByteArray& id);
    void endAll() { sessions_.clear(); }
    std::size_t size() const { return sessions_.size(); }
    // Those not idle for too long yet.
    std::size_t live() const;

private:
    void prune(std::int64_t nowMs);

    const Clock& clock_;
    const std::size_t max_;
    std::map<QByteArray, std::int64_t> sessions_; // id: last used
};

} // namespace trv::http
