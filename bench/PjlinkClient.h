#pragma once

#include <QtGlobal>
#include <string>
#include <string_view>

namespace bench {

// A PJLink client on a plain socket, without a password, from 127.0.0.`host`.
class PjlinkClient {
public:
    explicit PjlinkClient(quint16 port, int host = 1);
    ~PjlinkClient();
    PjlinkClient(const PjlinkClient&) = delete;
    PjlinkClient& operator=(const PjlinkClient&) = delete;

    bool ready() const { return fd_ >= 0 && greeting_ == "PJLINK 0"; }

    // The reply to `request` without its carriage return; empty when none came in time.
    std::string ask(std::string_view request, int timeoutMs = 5000);

private:
    std::string line(int timeoutMs);

    int fd_ = -1;
    std::string greeting_;
    std::string buffer_;
};

} // namespace bench
