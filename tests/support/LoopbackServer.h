#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace trv::testing {

// A TCP server on 127.0.0.1 for one client, played by a script on a thread of its own, so that
// a server that floods, never reads or hangs up is a few lines of a test; and hostile clients
// of a server under test (connect(): from any 127.0.0.N, resetting, never reading).
class LoopbackServer {
public:
    // One end of a connection: the accepted one for a script, or a client made by connect().
    class Peer {
    public:
        explicit Peer(int fd = -1) : fd_(fd) {}
        Peer(Peer&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
        Peer& operator=(Peer&& other) noexcept;
        ~Peer() { closeNow(); }
        bool isOpen() const { return fd_ >= 0; }
        // Writes everything, unless the other end goes away first.
        bool send(const std::string& bytes);
        // Reads what comes within `ms`, up to `limit` bytes; stops early once `until` is seen,
        // or when the other end closes. On the application's thread Qt's events go on meanwhile,
        // so a server in the same process keeps working.
        std::string receive(int ms, std::size_t limit = 1 << 20, const std::string& until = {});
        void closeNow();
        // Closes with a TCP reset (SO_LINGER 0) instead of an orderly end.
        void resetNow();
        // The receive buffer as small as the system allows, so that a server's replies back up.
        void shrinkReceiveBuffer();

    private:
        int fd_;
    };

    // A client of 127.0.0.1:`port` from 127.0.0.`host` (Linux routes all of 127/8 to the
    // loopback), connected, or not open when the connection failed within `ms`. Qt's events
    // go on while it connects.
    static Peer connect(quint16 port, int host = 1, int ms = 5000);
    // A port of 127.0.0.1 that nobody listened on as it was asked, for a program that takes no
    // port 0 (another process may take it meanwhile).
    static quint16 freePort();
    using Script = std::function<void(Peer&)>;

    LoopbackServer();
    ~LoopbackServer();

    // Accepts one client and plays `script` with it; the connection closes when it returns.
    void serve(Script script);
    // Waits up to `ms` for the script to end.
    bool finished(int ms = 10000);
    QString address(const char* scheme) const;
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> done_{false};
};

} // namespace trv::testing
