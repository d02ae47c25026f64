#pragma once

#include <QString>
#include <cstdint>
#include <map>

namespace trv::listen {

// The connections a listener holds, by peer address, and who may come in: at most `perAddress`
// from one address; when all `total` places are taken, the newcomer gets the place of the
// longest-idle connection of the address that holds the most, so no address can keep the
// others out.
class ConnectionBook {
public:
    struct Limits {
        int total = 64;
        int perAddress = 16;
    };
    struct Decision {
        enum class Kind { Admit, Evict, Refuse } kind = Kind::Admit;
        std::uint64_t victim = 0; // Evict: the connection to close first
    };

    explicit ConnectionBook(Limits limits) : limits_(limits) {}
    void setLimits(Limits limits) { limits_ = limits; }
    const Limits& limits() const { return limits_; }

    // What to do with a newcomer from `key`; nothing changes until add() and remove().
    Decision admit(const QString& key) const;
    void add(std::uint64_t id, const QString& key, std::int64_t nowMs);
    // The connection did something: it is not idle.
    void touch(std::uint64_t id, std::int64_t nowMs);
    void remove(std::uint64_t id);
    // The longest-idle connection from `key`, 0 when it has none: for a listener that lets an
    // address at its cap replace its own idlest connection rather than turn it away.
    std::uint64_t idlestOf(const QString& key) const;
    int count() const { return int(entries_.size()); }
    int count(const QString& key) const;

private:
    struct Entry {
        QString key;
        std::int64_t activeMs;
    };
    Limits limits_;
    std::map<std::uint64_t, Entry> entries_;
    std::map<QString, int> perKey_;
};

} // namespace trv::listen
