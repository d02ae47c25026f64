#pragma once

#include "listen/ConnectionBook.h"

#include <QHostAddress>
#include <QList>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace trv::listen {
class ListenGuard;
}

namespace trv::http {

class GatedConnection;

// The HTTP listener Qt HttpServer is bound to, which lets a connection reach it only with a
// whole request that passed the checks: places per address and in total, the size and time a
// request head may take, the body's size, the Host and the Origin. Refusals are answered here
// and never reach the server.
class HttpGate : public QTcpServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 64;
    static constexpr int kMaxPerAddress = 16;
    static constexpr qint64 kMaxHeadBytes = 8 * 1024;
    static constexpr qint64 kMaxBodyBytes = 64 * 1024;
    // From a request's first byte to its last.
    static constexpr int kRequestMs = 10000;
    // Without a request this long, a connection is closed.
    static constexpr int kIdleMs = 30000;
    // Replies a client has not taken yet beyond what the system buffers: past this its next
    // request waits, and with it the client, held back by TCP.
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
    // How long a closing connection may take to hand over what was written to it.
    static constexpr int kCloseGraceMs = 2000;

    struct Limits {
        int total = kMaxConnections;
        int perAddress = kMaxPerAddress;
        qint64 headBytes = kMaxHeadBytes;
        qint64 bodyBytes = kMaxBodyBytes;
        int requestMs = kRequestMs;
        int idleMs = kIdleMs;
        int closeGraceMs = kCloseGraceMs;
        qint64 unsentBytes = kMaxUnsentBytes;
    };

    // `guard` is shared with the program's other listeners and outlives the gate.
    explicit HttpGate(listen::ListenGuard& guard, QObject* parent = nullptr);
    ~HttpGate() override;

    // For connections accepted from now on.
    void setLimits(const Limits& limits);
    const Limits& limits() const { return limits_; }
    // Names the bridge answers to besides the address a client connected to (http-hosts).
    void setHostNames(const QStringList& names);
    // "http", or "https" when the sockets speak TLS.
    void setScheme(const QString& scheme) { scheme_ = scheme.toStdString(); }
    // Connections accepted from now on speak TLS with this configuration (QSslSocket), or
    // plain TCP without one; the scheme follows.
    void setTls(std::optional<QSslConfiguration> tls);
    bool tls() const { return tls_.has_value(); }
    // What a socket buffers at most: a whole request and a little more.
    qint64 readBufferBound() const { return limits_.headBytes + limits_.bodyBytes + 4096; }

    // Whether the connection from `peer` upgraded with a request that was let through as an
    // upgrade; the server upgrades whatever its route answered, so only these may be used.
    bool upgradeApproved(const QHostAddress& peer, quint16 peerPort) const;
    int connectionCount() const { return int(connections_.size()); }
    // The socket whose request the server is reading now: the gate looks at each arrival just
    // before the server does, so a route handler learns here which connection it answers.
    QTcpSocket* current() const { return current_; }
    // While a reply on `socket` is on its way, its next request waits at the gate, so that
    // replies go out in the order of their requests; resume lets it through.
    static void pause(QTcpSocket* socket);
    static void resume(QTcpSocket* socket);
    QList<QTcpSocket*> sockets() const;

protected:
    void incomingConnection(qintptr handle) override;

private:
    friend class GatedConnection;
    void handOver(QTcpSocket* socket);
    void touch(quint64 id);
    void gone(quint64 id);
    std::string ownAuthority(const QTcpSocket& socket) const;
    void log(const QString& key, const QString& kind, const QString& line);

    listen::ListenGuard& guard_;
    Limits limits_;
    listen::ConnectionBook book_;
    std::map<quint64, GatedConnection*> connections_;
    quint64 accepted_ = 0;
    std::string scheme_ = "http";
    std::vector<std::string> names_;
    std::optional<QSslConfiguration> tls_;
    QTcpSocket* current_ = nullptr;
};

} // namespace trv::http
