#pragma once

#include "Harness.h"

#include <QByteArray>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// The projector's end of a pseudo-terminal, answering each command at once as the projector
// would, on a thread of its own that stamps when each command's carriage return arrived and
// when its reply was written.
class StampedDevice {
public:
    struct Exchange {
        std::string command; // without its carriage return, the unit address kept
        Clock::time_point arrived;
        Clock::time_point written;  // as the first write of its reply began
        Clock::time_point finished; // as the last began; the same for a reply in one write
        bool answered = false;
    };

    StampedDevice();
    ~StampedDevice();
    StampedDevice(const StampedDevice&) = delete;
    StampedDevice& operator=(const StampedDevice&) = delete;

    // The device to open: the pseudo-terminal's own end.
    const QByteArray& path() const { return path_; }
    // Replies one character at a time at the pace of 19200 baud, as a serial line brings them,
    // instead of in one write.
    void setPaced(bool paced) { paced_ = paced; }
    std::vector<Exchange> exchanges() const;
    std::size_t count() const;
    // The first `command` from the `from`th command on, running the event loop until it has
    // been answered, at most `ms`; nothing when it did not come.
    std::optional<Exchange> waitFor(const std::string& command, std::size_t from, int ms) const;

private:
    void run();
    void answer(const std::string& line, Clock::time_point arrived);

    int master_ = -1;
    int slave_ = -1; // kept open so that the far end never sees a hang-up between openings
    QByteArray path_;
    std::atomic<bool> paced_{false};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<Exchange> exchanges_;
    std::thread thread_;
};

} // namespace bench
