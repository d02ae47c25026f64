#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace trv::testing {

// A TCP server on 127.0.0.1 for one client, played by a script on a thread of its own, so that
// a server that floods, never reads or hangs up is a few lines of a test.
class LoopbackServer {
public:
    // What a script can do with the accepted connection.
    class Peer {
    public:
        explicit Peer(int fd) : fd_(fd) {}
        // Writes everything, unless the client goes away first.
        bool send(const std::string& bytes);
        // Reads what comes within `ms`, up to `limit` bytes; stops early once `until` is seen.
        std::string receive(int ms, std::size_t limit = 1 << 20, const std::string& until = {});
        void closeNow();

    private:
        int fd_;
    };
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
