// trv-sim: a simulated projector on a pseudo-terminal.
#include "ProjectorModel.h"
#include "SimOptions.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kInputLimit = 1024; // reply bytes waiting, beyond which commands are lost

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }
// Faults changed while running: SIGUSR1 the next one, SIGUSR2 none. The handler only counts;
// the main loop takes the counts it has not yet seen.
volatile std::sig_atomic_t nextSignals = 0;
volatile std::sig_atomic_t clearSignals = 0;
// How many SIGUSR1 had come at the last SIGUSR2: those before it are undone by it.
volatile std::sig_atomic_t nextAtClear = 0;
void onFaultSignal(int signal) {
    if (signal == SIGUSR1) {
        nextSignals = nextSignals + 1;
    } else {
        nextAtClear = nextSignals;
        clearSignals = clearSignals + 1;
    }
}

std::int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Bytes waiting to go out, each with the moment it may be written.
struct Outgoing {
    std::int64_t due;
    std::string bytes;
};

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto parsed = trv::sim::SimOptions::parse({argv + 1, argv + argc}, error);
    if (!parsed) {
        std::fprintf(stderr, "trv-sim: %s\n%s", error.c_str(), trv::sim::SimOptions::usage());
        return 2;
    }
    const trv::sim::SimOptions& options = *parsed;
    if (options.help) {
        std::fputs(trv::sim::SimOptions::usage(), stdout);
        return 0;
    }
    if (options.version) {
        std::puts("trv-sim " TRV_VERSION);
        return 0;
    }

    // Every ending that can be caught goes through the end of main, which removes the link; a
    // closed standard output is no reason to stop.
    struct sigaction action {};
    action.sa_handler = onSignal;
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction faultAction {};
    faultAction.sa_handler = onFaultSignal;
    for (int signal : {SIGUSR1, SIGUSR2})
        sigaction(signal, &faultAction, nullptr);

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("trv-sim: pseudo-terminal");
        return 1;
    }
    const std::string device = ptsname(master);
    // Hold the far end open in raw mode, so the line neither echoes nor hangs up while the
    // panel has not opened it yet or has closed it.
    int slave = open(device.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0) {
        std::perror("trv-sim: open device");
        return 1;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!options.link.empty()) {
        struct stat st {};
        if (lstat(options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(options.link.c_str());
        if (symlink(device.c_str(), options.link.c_str()) != 0) {
            std::perror("trv-sim: --link");
            return 1;
        }
    }
    std::printf("%s\n", device.c_str());
    std::fflush(stdout);

    trv::sim::ProjectorModel model(options.model);
    std::mt19937 random(std::random_device{}());
    std::uniform_real_distribution<double> chance(0, 1);
    std::uniform_int_distribution<int> anyByte(0, 255);

    const double msPerChar = 10000.0 / options.baud; // start, 8 data and stop bits
    const std::int64_t start = nowMs();
    std::deque<Outgoing> outgoing;
    std::int64_t lineFreeAt = start; // when the line has sent everything queued so far
    std::string line;
    std::int64_t floodSent = 0;
    char nextFlood = '!';
    bool hungUp = false;
    std::sig_atomic_t nextTaken = 0, clearTaken = 0;

    // Replies not yet on the line, in bytes. A projector busy answering takes no more
    // commands than its input holds; those beyond are lost.
    std::size_t queued = 0;
    const auto queue = [&](std::string reply) {
        if (options.noise > 0) {
            std::string noisy;
            for (char c : reply) {
                if (chance(random) < options.noise)
                    noisy += static_cast<char>(anyByte(random));
                noisy += c;
            }
            reply = std::move(noisy);
        }
        const std::int64_t from = std::max(nowMs() + options.delayMs, lineFreeAt);
        if (options.split) {
            std::int64_t at = from;
            for (char c : reply) {
                at += std::max<std::int64_t>(20, std::int64_t(msPerChar));
                outgoing.push_back({at, std::string(1, c)});
            }
            queued += reply.size();
            lineFreeAt = at;
        } else {
            // The whole reply is there once its last character has crossed the line.
            lineFreeAt = from + std::int64_t(double(reply.size()) * msPerChar + 0.5);
            queued += reply.size();
            outgoing.push_back({lineFreeAt, std::move(reply)});
        }
    };

    while (!stopRequested) {
        if (nextSignals != nextTaken || clearSignals != clearTaken) {
            std::string fault = model.fault();
            if (clearSignals != clearTaken) {
                fault.clear();
                // In the order they came: a next before the clear counts for nothing.
                nextTaken = std::max(int(nextTaken), int(nextAtClear));
            }
            clearTaken = clearSignals;
            for (; nextTaken != nextSignals; ++nextTaken)
                fault = trv::sim::ProjectorModel::nextFault(fault);
            model.setFault(fault);
            if (options.trace) {
                std::printf("fault %s\n", fault.empty() ? "none" : fault.c_str());
                std::fflush(stdout);
            }
        }
        const std::int64_t now = nowMs();
        if (!hungUp && options.hangupAfter >= 0 &&
            now - start >= std::int64_t(options.hangupAfter * 1000)) {
            close(master);
            close(slave);
            hungUp = true;
            outgoing.clear();
            queued = 0;
        }
        if (hungUp) {
            poll(nullptr, 0, 100); // until SIGINT or SIGTERM
            continue;
        }
        bool blocked = false; // due output the line does not take now
        while (!outgoing.empty() && outgoing.front().due <= now) {
            const std::string& bytes = outgoing.front().bytes;
            if (write(master, bytes.data(), bytes.size()) < 0 && errno == EAGAIN) {
                blocked = true; // nobody reads: wait until the line takes more
                break;
            }
            queued -= bytes.size();
            outgoing.pop_front();
        }
        if (options.flood) {
            const auto due = std::int64_t(double(now - start) / msPerChar);
            std::string chunk;
            while (floodSent + std::int64_t(chunk.size()) < due && chunk.size() < 4096) {
                chunk += nextFlood;
                nextFlood = nextFlood == 'z' ? '!' : char(nextFlood + 1);
            }
            const ssize_t n = chunk.empty() ? 0 : write(master, chunk.data(), chunk.size());
            floodSent += n > 0 ? n : std::int64_t(chunk.size()); // unread output is lost
        }

        int timeout = 100;
        if (!outgoing.empty() && !blocked)
            timeout = int(std::clamp<std::int64_t>(outgoing.front().due - now, 0, 100));
        if (options.flood)
            timeout = std::min(timeout, 10);
        if (options.hangupAfter >= 0) {
            const std::int64_t left = std::int64_t(options.hangupAfter * 1000) - (now - start);
            timeout = int(std::clamp<std::int64_t>(left, 0, timeout));
        }
        pollfd fd{master, short(POLLIN | (blocked ? POLLOUT : 0)), 0};
        if (poll(&fd, 1, timeout) <= 0 || !(fd.revents & POLLIN))
            continue;
        char buffer[512];
        const ssize_t n = read(master, buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\r') {
                if (options.trace) {
                    std::printf("%s\n", line.c_str());
                    std::fflush(stdout);
                }
                if (queued >= kInputLimit) {
                    if (options.trace) {
                        std::printf("dropped %s\n", line.c_str());
                        std::fflush(stdout);
                    }
                    line.clear();
                    continue;
                }
                const bool wasMuted = model.videoMute();
                const auto reply = model.handle(line, nowMs());
                if (options.trace && model.videoMute() != wasMuted) {
                    std::printf("video mute %s\n", model.videoMute() ? "on" : "off");
                    std::fflush(stdout);
                }
                if (reply && !options.silent)
                    queue(*reply);
                line.clear();
            } else if (c != '\n') {
                if (line.size() < 256)
                    line += c;
            }
        }
    }

    if (!hungUp) {
        close(slave);
        close(master);
    }
    if (!options.link.empty())
        unlink(options.link.c_str());
    return 0;
}
