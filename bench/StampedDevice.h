#pragma once

#include "Harness.h"

#include <QByteArray>
#include <atomic>
#include <mutex>
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
        Clock::time_point written;  // as its reply began to be written
        Clock::time_point finished; // once the last of it was written
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
    // The `i`th command since the start; `i` below count().
    Exchange at(std::size_t i) const;
    // Runs the event loop until `n` commands have arrived, at most `ms`; whether they did.
    bool waitFor(std::size_t n, int ms) const;

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
