#include "support/LoopbackServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace trv::testing {

LoopbackServer::LoopbackServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

LoopbackServer::~LoopbackServer() {
    ::shutdown(listener_, SHUT_RDWR); // ends an accept that still waits
    if (thread_.joinable())
        thread_.join();
    ::close(listener_);
}

void LoopbackServer::serve(Script script) {
    thread_ = std::thread([this, script = std::move(script)] {
        pollfd listening{listener_, POLLIN, 0};
        if (::poll(&listening, 1, 10000) > 0) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                Peer peer(fd);
                script(peer);
                peer.closeNow();
            }
        }
        done_ = true;
    });
}

bool LoopbackServer::finished(int ms) {
    QDeadlineTimer deadline(ms);
    while (!done_ && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done_;
}

QString LoopbackServer::address(const char* scheme) const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port_);
}

bool LoopbackServer::Peer::send(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        at += std::size_t(n);
    }
    return true;
}

std::string LoopbackServer::Peer::receive(int ms, std::size_t limit, const std::string& until) {
    std::string got;
    QDeadlineTimer deadline(ms);
    while (got.size() < limit && !deadline.hasExpired()) {
        if (!until.empty() && got.find(until) != std::string::npos)
            break;
        pollfd fd{fd_, POLLIN, 0};
        if (::poll(&fd, 1, int(std::max<qint64>(1, deadline.remainingTime()))) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, limit - got.size()), 0);
        if (n <= 0)
            break;
        got.append(buffer, std::size_t(n));
    }
    return got;
}

void LoopbackServer::Peer::closeNow() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace trv::testing
