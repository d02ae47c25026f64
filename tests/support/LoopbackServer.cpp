#include "support/LoopbackServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QThread>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace trv::testing {
namespace {

// Whether waiting here must let Qt's events go on.
bool onApplicationThread() {
    return QCoreApplication::instance() &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Waits for `events` on `fd` up to the deadline; Qt's events go on meanwhile where they must.
bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    const bool pump = onApplicationThread();
    while (!deadline.hasExpired()) {
        pollfd p{fd, events, 0};
        const qint64 left = std::max<qint64>(1, deadline.remainingTime());
        if (::poll(&p, 1, int(pump ? std::min<qint64>(left, 5) : left)) > 0)
            return true;
        if (pump)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return false;
}

} // namespace

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
        if (!waitFor(fd_, POLLIN, deadline))
            continue;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, limit - got.size()), 0);
        if (n <= 0)
            break;
        got.append(buffer, std::size_t(n));
    }
    return got;
}

LoopbackServer::Peer& LoopbackServer::Peer::operator=(Peer&& other) noexcept {
    if (this != &other) {
        closeNow();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void LoopbackServer::Peer::resetNow() {
    if (fd_ < 0)
        return;
    const linger reset{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    closeNow();
}

void LoopbackServer::Peer::shrinkReceiveBuffer() {
    const int size = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

quint16 LoopbackServer::freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

LoopbackServer::Peer LoopbackServer::connect(quint16 port, int host, int ms) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    Peer peer(fd);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + quint32(host));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0)
        return Peer();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Without blocking: a server in this process may have to accept first.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        int error = errno;
        if (error == EINPROGRESS) {
            error = ETIMEDOUT;
            if (waitFor(fd, POLLOUT, QDeadlineTimer(ms))) {
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
        if (error != 0)
            return Peer();
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return peer;
}

void LoopbackServer::Peer::closeNow() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace trv::testing
