#include "StampedDevice.h"

#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>

namespace bench {
namespace {

// One character's time at 19200 baud, 10 bits with its start and stop bits.
constexpr auto kCharacterTime = std::chrono::microseconds(521);

// The projector's replies to what the daemon and the pages send; nothing for all units.
std::string replyTo(std::string command) {
    if (command.size() >= 4 && command[0] == 'A') {
        if (command.compare(0, 4, "AFFF") == 0)
            return {};
        command.erase(0, 4);
    }
    if (command == "CR0")
        return "00\r";
    if (command == "CR1")
        return "1\r";
    if (command == "CR3")
        return "01234\r";
    if (command == "CR4")
        return "11\r";
    if (command == "CR6")
        return "038.5 041.0 036.5\r";
    if (command == "CR7")
        return "000 FULL\r";
    if (command.rfind("CR ", 0) == 0)
        return "000 1\r";
    return "\x06";
}

} // namespace

StampedDevice::StampedDevice() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    path_ = name;
    thread_ = std::thread([this] { run(); });
}

StampedDevice::~StampedDevice() {
    stop_ = true;
    thread_.join();
    ::close(slave_);
    ::close(master_);
}

std::vector<StampedDevice::Exchange> StampedDevice::exchanges() const {
    const std::lock_guard lock(mutex_);
    return exchanges_;
}

std::size_t StampedDevice::count() const {
    const std::lock_guard lock(mutex_);
    return exchanges_.size();
}

std::optional<StampedDevice::Exchange> StampedDevice::waitFor(const std::string& command,
                                                              std::size_t from, int ms) const {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            for (std::size_t i = from; i < exchanges_.size(); ++i) {
                if (exchanges_[i].command == command)
                    return exchanges_[i];
            }
        }
        if (timer.elapsed() >= ms)
            return std::nullopt;
        spin(1);
    }
}

void StampedDevice::run() {
    // Stamps taken when this thread gets a core: on a busy machine it is woken before the
    // programs measured where the system allows it (as root), else it runs as it comes.
    const sched_param realtime{1};
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
    std::string line;
    char buffer[256];
    while (!stop_) {
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, 20) <= 0)
            continue;
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        const auto arrived = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '\r') {
                line += buffer[i];
                continue;
            }
            answer(line, arrived);
            line.clear();
        }
    }
}

void StampedDevice::answer(const std::string& line, Clock::time_point arrived) {
    Exchange exchange{line, arrived, {}, {}, false};
    const std::string reply = replyTo(line);
    // Stamped before each write: the daemon may take what is written, and its event reach
    // trv-bench, before this thread runs again.
    exchange.written = exchange.finished = Clock::now();
    if (!reply.empty()) {
        if (!paced_) {
            exchange.answered =
                ::write(master_, reply.data(), reply.size()) == ssize_t(reply.size());
        } else {
            exchange.answered = true;
            for (std::size_t i = 0; i < reply.size() && exchange.answered; ++i) {
                std::this_thread::sleep_until(exchange.written + kCharacterTime * i);
                exchange.finished = Clock::now();
                exchange.answered = ::write(master_, &reply[i], 1) == 1;
            }
        }
    }
    const std::lock_guard lock(mutex_);
    exchanges_.push_back(std::move(exchange));
}

} // namespace bench
