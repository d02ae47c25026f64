#include "HttpClient.h"

#include "Harness.h"

#include <QList>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {
namespace {

qint64 nowMs() { return monotonicNs() / 1'000'000; }

} // namespace

HttpClient::HttpClient(quint16 port, int host) : fd_(connectFrom(host, port)), port_(port) {}

HttpClient::~HttpClient() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool HttpClient::fill(std::size_t size, qint64 untilMs) {
    while (buffer_.size() < size) {
        const qint64 left = untilMs - nowMs();
        pollfd fd{fd_, POLLIN, 0};
        if (left <= 0 || poll(&fd, 1, int(left)) <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer_.append(chunk, std::size_t(n));
    }
    return true;
}

bool HttpClient::fillLine(std::size_t from, std::size_t& end, qint64 untilMs) {
    while ((end = buffer_.find("\r\n", from)) == std::string::npos) {
        if (!fill(buffer_.size() + 1, untilMs))
            return false;
    }
    return true;
}

HttpClient::Reply HttpClient::request(const char* method, const char* path, const QByteArray& json,
                                      int timeoutMs) {
    if (fd_ < 0)
        return {};
    QByteArray head = QByteArray(method) + ' ' + path +
                      " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port_) + "\r\n";
    if (!json.isNull())
        head +=
            "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(json.size()) +
            "\r\n";
    const QByteArray request = head + "\r\n" + json;
    if (::send(fd_, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL) !=
        ssize_t(request.size()))
        return {};

    const qint64 until = nowMs() + timeoutMs;
    std::size_t headEnd = 0;
    while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
        if (!fill(buffer_.size() + 1, until))
            return {};
    }
    const QList<QByteArray> lines =
        QByteArray(buffer_.data(), qsizetype(headEnd)).split('\n'); // "HTTP/1.1 200 OK\r", ...
    buffer_.erase(0, headEnd + 4);
    Reply reply;
    reply.status = lines.value(0).split(' ').value(1).toInt();
    qint64 length = 0;
    bool chunked = false;
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            length = value.toLongLong();
        else if (name == "transfer-encoding")
            chunked = value.toLower().contains("chunked");
    }
    if (!chunked) {
        if (!fill(std::size_t(length), until))
            return {};
        reply.body = QByteArray(buffer_.data(), qsizetype(length));
        buffer_.erase(0, std::size_t(length));
        return reply;
    }
    for (;;) {
        std::size_t end = 0;
        if (!fillLine(0, end, until))
            return {};
        const std::size_t size = std::stoul(buffer_.substr(0, end), nullptr, 16);
        if (!fill(end + 2 + size + 2, until))
            return {};
        reply.body += QByteArray(buffer_.data() + end + 2, qsizetype(size));
        buffer_.erase(0, end + 2 + size + 2);
        if (size == 0)
            return reply; // no trailers are sent
    }
}

} // namespace bench
