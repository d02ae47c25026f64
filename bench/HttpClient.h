#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <string>

namespace bench {

// An HTTP/1.1 client on one kept-alive plain socket from 127.0.0.`host`, blocking, for timing
// requests without a client library's own work in the way.
class HttpClient {
public:
    struct Reply {
        int status = 0; // 0: no reply in time, or the connection was lost
        QByteArray body;
    };

    explicit HttpClient(quint16 port, int host = 1);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    Reply request(const char* method, const char* path, const QByteArray& json = {},
                  int timeoutMs = 5000);

private:
    // Reads until `buffer_` holds `size` bytes; false on a loss or when `untilMs` has passed.
    bool fill(std::size_t size, qint64 untilMs);
    bool fillLine(std::size_t from, std::size_t& end, qint64 untilMs);

    int fd_ = -1;
    quint16 port_;
    std::string buffer_;
};

} // namespace bench
