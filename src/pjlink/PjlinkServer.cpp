#include "pjlink/PjlinkServer.h"

#include "pjlink/PjlinkConnection.h"

#include <QTcpSocket>
#include <QTimer>

namespace trv::pjlink {
namespace {

// "192.168.1.20:51234", "[fe80::1]:51234": a client on a dual-stack port by its IPv4 address.
QString peerName(const QTcpSocket& socket) {
    QHostAddress address = socket.peerAddress();
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    if (v4)
        address = QHostAddress(ip4);
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(address.toString())
                             : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(socket.peerPort());
}

} // namespace

PjlinkServer::PjlinkServer(ProjectorService& service, Options options, Logger log, QObject* parent)
    : QObject(parent), service_(service), options_(std::move(options)), log_(std::move(log)) {
    connect(&server_, &QTcpServer::newConnection, this, &PjlinkServer::accept);
    // Out of descriptors, say: the server stops accepting; it tries again a little later
    // rather than leave every later client hanging.
    connect(&server_, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        if (log_)
            log_(QStringLiteral("cannot accept a client: %1").arg(server_.errorString()));
        QTimer::singleShot(kAcceptRetryMs, this, [this] {
            if (!closing_)
                server_.resumeAccepting();
        });
    });
}

PjlinkServer::~PjlinkServer() {
    const QList<PjlinkConnection*> connections = connections_;
    connections_.clear();
    for (PjlinkConnection* connection : connections) {
        QObject::disconnect(connection, nullptr, this, nullptr);
        delete connection;
    }
}

bool PjlinkServer::listen(const QHostAddress& address, quint16 port, QString& error) {
    closing_ = false;
    if (server_.listen(address, port))
        return true;
    error = server_.errorString();
    return false;
}

void PjlinkServer::closeAll() {
    closing_ = true;
    server_.close();
    if (connections_.isEmpty()) {
        QMetaObject::invokeMethod(this, &PjlinkServer::closed, Qt::QueuedConnection);
        return;
    }
    // A connection may end at once and leave the list.
    const QList<PjlinkConnection*> connections = connections_;
    for (PjlinkConnection* connection : connections)
        connection->close(QStringLiteral("the server is shutting down"));
}

void PjlinkServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const QString name =
            QStringLiteral("client %1 (%2)").arg(++accepted_).arg(peerName(*socket));
        if (closing_ || connections_.size() >= options_.maxClients) {
            // PJLink has no "busy" reply, and PJLINK ERRA would read as a wrong password: the
            // client sees the connection end before any greeting, as when nothing listens.
            if (log_)
                log_(name + (closing_ ? QStringLiteral(": refused, shutting down")
                                      : QStringLiteral(": refused, %1 clients connected already")
                                            .arg(connections_.size())));
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            if (socket->state() == QAbstractSocket::UnconnectedState)
                socket->deleteLater();
            continue;
        }
        if (log_)
            log_(name + QStringLiteral(": connected"));
        auto* connection = new PjlinkConnection(socket, service_, options_, log_, name, this);
        connections_.append(connection);
        connect(connection, &PjlinkConnection::finished, this, &PjlinkServer::finished);
    }
}

void PjlinkServer::finished(PjlinkConnection* connection) {
    connections_.removeOne(connection);
    connection->deleteLater();
    if (closing_ && connections_.isEmpty())
        emit closed();
}

} // namespace trv::pjlink
