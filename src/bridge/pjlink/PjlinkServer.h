#pragma once

#include "listen/ConnectionBook.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
namespace trv::listen {
class ListenGuard;
}

namespace trv::bridge::pjlink {

class PjlinkConnection;
class PjlinkDevice;

// The PJLink port: accepts clients within the limits of the listener's rules (in total, per
// address, the back-off after failed logins) and gives each a connection of its own, all asking
// the one projector service.
class PjlinkServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kAcceptRetryMs = 1000;

    struct Options {
        QString password; // empty: no authentication
        int maxClients = 64;
        int maxPerAddress = 16; // an IPv6 /64 counting as one address
        int idleMs = 30000;     // a connection without a request this long is closed
        // How long a request may wait for the projector service before it is answered ERR3
        // here, so that every reply comes in time; 0 waits for the service however long.
        int replyLimitMs = 2000;
        bool verbose = false; // log every request and reply
    };
    // What a connection knows of itself: its number, its peer's address for the limits, and
    // its name in the log ("client 7 (192.0.2.4:51234)").
    struct Peer {
        quint64 id = 0;
        QString key;
        QString name;
    };

    // `guard` is shared with the program's other listeners and outlives the server.
    PjlinkServer(PjlinkDevice& service, listen::ListenGuard& guard, Options options,
                 QObject* parent = nullptr);
    ~PjlinkServer() override;

    // Any address, IPv4 or IPv6; port 0 picks a free one. On failure `error` says why.
    bool listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 port() const { return server_.serverPort(); }
    QHostAddress address() const { return server_.serverAddress(); }
    // For connections accepted from now on.
    void setOptions(const Options& options);

    // Stops listening and closes every connection once its replies are out; closed() follows
    // when the last has gone.
    void closeAll();
    int connectionCount() const { return int(connections_.size()); }
    QList<PjlinkConnection*> connections() const { return connections_; }

signals:
    void closed();

private:
    void accept();
    // Why the client on `socket` is turned away, or empty when it may come in.
    QString refusal(const QTcpSocket& socket, const QString& key, QString& kind);
    void finished(PjlinkConnection* connection);
    // Ends connections whose socket has gone without their noticing, so that every place in use
    // is a socket that exists.
    void sweep();

    PjlinkDevice& service_;
    listen::ListenGuard& guard_;
    Options options_;
    listen::ConnectionBook book_;
    QTcpServer server_;
    QList<PjlinkConnection*> connections_;
    quint64 accepted_ = 0;
    bool closing_ = false;
};

} // namespace trv::bridge::pjlink
