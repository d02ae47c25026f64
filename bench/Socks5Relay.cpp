#include "Socks5Relay.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtEndian>
#include <utility>

namespace bench {
namespace {

// One client's connection: its greeting and request (RFC 1928, no authentication), then the
// bytes both ways. Owned by the client's socket.
class Relayed : public QObject {
public:
    Relayed(QTcpSocket* client, int host) : QObject(client), client_(client), host_(host) {
        client_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(client_, &QTcpSocket::readyRead, this, &Relayed::fromClient);
        connect(client_, &QTcpSocket::disconnected, client_, &QObject::deleteLater);
    }

private:
    void fromClient() {
        if (upstream_ && upstream_->state() == QAbstractSocket::ConnectedState) {
            upstream_->write(client_->readAll());
            return;
        }
        if (upstream_)
            return; // still connecting: what comes waits in the client's socket
        pending_ += client_->readAll();
        if (!greeted_) {
            // VER NMETHODS METHODS...; answered "no authentication"
            if (pending_.size() < 2 || pending_.size() < 2 + quint8(pending_[1]))
                return;
            pending_.remove(0, 2 + quint8(pending_[1]));
            client_->write(QByteArray("\x05\x00", 2));
            greeted_ = true;
        }
        // VER CMD RSV ATYP ADDR PORT, an IPv4 address (ATYP 1) or a name (ATYP 3)
        if (pending_.size() < 5)
            return;
        const int type = quint8(pending_[3]);
        const int addressSize = type == 1 ? 4 : type == 3 ? 1 + quint8(pending_[4]) : -1;
        if (addressSize < 0 || quint8(pending_[1]) != 1) {
            client_->abort();
            return;
        }
        if (pending_.size() < 4 + addressSize + 2)
            return;
        const QString target =
            type == 1 ? QHostAddress(qFromBigEndian<quint32>(pending_.constData() + 4)).toString()
                      : QString::fromLatin1(pending_.mid(5, addressSize - 1));
        const quint16 port = qFromBigEndian<quint16>(pending_.constData() + 4 + addressSize);
        pending_.remove(0, 4 + addressSize + 2);
        upstream_ = new QTcpSocket(this);
        upstream_->bind(QHostAddress(QHostAddress(QHostAddress::LocalHost).toIPv4Address() - 1 +
                                     quint32(host_)));
        upstream_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(upstream_, &QTcpSocket::connected, this, [this] {
            client_->write(QByteArray("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10));
            if (!pending_.isEmpty())
                upstream_->write(std::exchange(pending_, {}));
            fromClient();
        });
        connect(upstream_, &QTcpSocket::readyRead, this,
                [this] { client_->write(upstream_->readAll()); });
        connect(upstream_, &QTcpSocket::disconnected, client_, &QTcpSocket::disconnectFromHost);
        connect(upstream_, &QTcpSocket::errorOccurred, client_, &QTcpSocket::abort);
        connect(client_, &QTcpSocket::disconnected, upstream_, &QTcpSocket::disconnectFromHost);
        upstream_->connectToHost(target, port);
    }

    QTcpSocket* client_;
    QTcpSocket* upstream_ = nullptr;
    int host_;
    bool greeted_ = false;
    QByteArray pending_;
};

} // namespace

Socks5Relay::Socks5Relay(int firstHost, QObject* parent) : QObject(parent), nextHost_(firstHost) {
    connect(&server_, &QTcpServer::newConnection, this, &Socks5Relay::accepted);
}

bool Socks5Relay::listen() { return server_.listen(QHostAddress::LocalHost); }

void Socks5Relay::accepted() {
    while (QTcpSocket* client = server_.nextPendingConnection()) {
        new Relayed(client, nextHost_++);
        ++made_;
    }
}

} // namespace bench
