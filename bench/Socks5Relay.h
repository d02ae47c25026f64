#pragma once

#include <QTcpServer>

namespace bench {

// A SOCKS5 relay on 127.0.0.1 that makes each connection it is asked for from the next of the
// loopback addresses from 127.0.0.`firstHost` on: QWebSocket cannot bind its socket, and the
// daemon takes only so many connections from one address.
class Socks5Relay : public QObject {
public:
    explicit Socks5Relay(int firstHost, QObject* parent = nullptr);
    bool listen();
    quint16 port() const { return server_.serverPort(); }
    // Connections made so far.
    int made() const { return made_; }

private:
    void accepted();

    QTcpServer server_;
    int nextHost_;
    int made_ = 0;
};

} // namespace bench
