#include "bridge/http/SessionBook.h"

#include "link/clock/Clock.h"

#include <QRandomGenerator>
#include <algorithm>
#include <array>

namespace trv::http {

QByteArray SessionBook::open() {
    const std::int64_t now = clock_.nowMs();
    prune(now);
    while (sessions_.size() >= max_) {
        const auto oldest =
            std::min_element(sessions_.begin(), sessions_.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        sessions_.erase(oldest);
    }
    std::array<quint32, 4> bits{};
    QRandomGenerator::system()->fillRange(bits.data(), bits.size());
    const QByteArray id =
        QByteArray(reinterpret_cast<const char*>(bits.data()), sizeof bits).toHex();
    sessions_[id] = now;
    return id;
}

bool SessionBook::use(const QByteArray& id) {
    const std::int64_t now = clock_.nowMs();
    const auto found = sessions_.find(id);
    if (found == sessions_.end())
        return false;
    if (now - found->second >= kIdleMs) {
        sessions_.erase(found);
        return false;
    }
    found->second = now;
    return true;
}

void SessionBook::end(const QByteArray& id) { sessions_.erase(id); }

std::size_t SessionBook::live() const {
    const std::int64_t now = clock_.nowMs();
    return std::size_t(std::count_if(sessions_.begin(), sessions_.end(), [now](const auto& entry) {
        return now - entry.second < kIdleMs;
    }));
}

void SessionBook::prune(std::int64_t nowMs) {
    std::erase_if(sessions_,
                  [nowMs](const auto& entry) { return nowMs - entry.second >= kIdleMs; });
}

} // namespace trv::http
