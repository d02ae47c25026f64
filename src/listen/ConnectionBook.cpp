#include "listen/ConnectionBook.h"

namespace trv::listen {

ConnectionBook::Decision ConnectionBook::admit(const QString& key) const {
    if (count(key) >= limits_.perAddress)
        return {Decision::Kind::Refuse, 0};
    if (count() < limits_.total)
        return {Decision::Kind::Admit, 0};
    // The address holding the most; of several, the one whose idlest connection is idlest.
    int most = 0;
    for (const auto& [k, n] : perKey_)
        most = std::max(most, n);
    const Entry* victim = nullptr;
    std::uint64_t victimId = 0;
    for (const auto& [id, entry] : entries_) {
        if (perKey_.at(entry.key) != most)
            continue;
        if (!victim || entry.activeMs < victim->activeMs) {
            victim = &entry;
            victimId = id;
        }
    }
    if (!victim)
        return {Decision::Kind::Refuse, 0};
    return {Decision::Kind::Evict, victimId};
}

void ConnectionBook::add(std::uint64_t id, const QString& key, std::int64_t nowMs) {
    if (entries_.emplace(id, Entry{key, nowMs}).second)
        ++perKey_[key];
}

void ConnectionBook::touch(std::uint64_t id, std::int64_t nowMs) {
    const auto found = entries_.find(id);
    if (found != entries_.end())
        found->second.activeMs = nowMs;
}

void ConnectionBook::remove(std::uint64_t id) {
    const auto found = entries_.find(id);
    if (found == entries_.end())
        return;
    const auto key = perKey_.find(found->second.key);
    if (--key->second == 0)
        perKey_.erase(key);
    entries_.erase(found);
}

std::uint64_t ConnectionBook::idlestOf(const QString& key) const {
    const Entry* idlest = nullptr;
    std::uint64_t idlestId = 0;
    for (const auto& [id, entry] : entries_) {
        if (entry.key == key && (!idlest || entry.activeMs < idlest->activeMs)) {
            idlest = &entry;
            idlestId = id;
        }
    }
    return idlestId;
}

int ConnectionBook::count(const QString& key) const {
    const auto found = perKey_.find(key);
    return found == perKey_.end() ? 0 : found->second;
}

} // namespace trv::listen
