#include "PjlinkClient.h"

#include "Harness.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

PjlinkClient::PjlinkClient(quint16 port, int host) : fd_(connectFrom(host, port)) {
    if (fd_ >= 0)
        greeting_ = line(5000);
}

PjlinkClient::~PjlinkClient() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string PjlinkClient::ask(std::string_view request, int timeoutMs) {
    if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
        return {};
    return line(timeoutMs);
}

std::string PjlinkClient::line(int timeoutMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (const std::size_t end = buffer_.find('\r'); end != std::string::npos) {
            std::string text = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return text;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        pollfd fd{fd_, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0)
            return {};
        char chunk[256];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return {};
        buffer_.append(chunk, std::size_t(n));
    }
}

} // namespace bench
