#include "bridge/pjlink/PjlinkServer.h"

#include "bridge/pjlink/PjlinkConnection.h"
#include "link/clock/Clock.h"
#include "listen/AddressKey.h"
#include "listen/ListenGuard.h"

#include <QTcpSocket>
#include <QTimer>

namespace trv::bridge::pjlink {
namespace {

listen::ConnectionBook::Limits limitsOf(const PjlinkServer::Options& options) {
    return {options.maxClients, options.maxPerAddress};
}

// Connections on their way out beyond the places: a bound on sockets whatever peers do.
int hardLimit(const PjlinkServer::Options& options) { return 2 * options.maxClients; }

} // namespace

PjlinkServer::PjlinkServer(PjlinkDevice& service, listen::ListenGuard& guard, Options options,
                           QObject* parent)
    : QObject(parent), service_(service), guard_(guard), options_(std::move(options)),
      book_(limitsOf(options_)) {
    connect(&server_, &QTcpServer::newConnection, this, &PjlinkServer::accept);
    // Out of descriptors, say: the server stops accepting; it tries again a little later
    // rather than leave every later client hanging.
    connect(&server_, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        guard_.log().line(QStringLiteral("cannot accept a client: %1").arg(server_.errorString()));
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

void PjlinkServer::setOptions(const Options& options) {
    options_ = options;
    book_.setLimits(limitsOf(options_));
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

QString PjlinkServer::refusal(const QTcpSocket& socket, const QString& key, QString& kind) {
    if (closing_)
        return kind = QStringLiteral("refused, shutting down");
    // Reset by the client while it waited to be accepted: its address is gone with it.
    if (socket.state() != QAbstractSocket::ConnectedState || key.isEmpty())
        return kind = QStringLiteral("gone before it was served");
    if (const std::int64_t waitMs = guard_.backoff().waitMs(key); waitMs > 0) {
        kind = QStringLiteral("refused, too many failed logins");
        return QStringLiteral("%1 from %2 (%3 s more)").arg(kind, key).arg((waitMs + 999) / 1000);
    }
    if (connections_.size() >= hardLimit(options_)) {
        kind = QStringLiteral("refused, clients connected already");
        return QStringLiteral("refused, %1 clients connected already").arg(connections_.size());
    }
    if (book_.admit(key).kind == listen::ConnectionBook::Decision::Kind::Refuse) {
        kind = QStringLiteral("refused, clients from one address connected already");
        return QStringLiteral("refused, %1 clients from %2 connected already")
            .arg(book_.count(key))
            .arg(key);
    }
    return {};
}

void PjlinkServer::accept() {
    sweep();
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        Peer peer;
        peer.id = ++accepted_;
        peer.key = listen::AddressKey::of(socket->peerAddress());
        peer.name =
            QStringLiteral("client %1 (%2)")
                .arg(peer.id)
                .arg(listen::AddressKey::printable(socket->peerAddress(), socket->peerPort()));
        QString kind;
        if (const QString why = refusal(*socket, peer.key, kind); !why.isEmpty()) {
            // PJLink has no "busy" reply, and PJLINK ERRA would read as a wrong password: the
            // client sees the connection end before any greeting, as when nothing listens.
            guard_.log().event(peer.key, kind, peer.name + QStringLiteral(": ") + why);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            if (socket->state() == QAbstractSocket::UnconnectedState)
                socket->deleteLater();
            continue;
        }
        const listen::ConnectionBook::Decision decision = book_.admit(peer.key);
        if (decision.kind == listen::ConnectionBook::Decision::Kind::Evict) {
            // Its place is the newcomer's now, whether or not it has gone yet.
            book_.remove(decision.victim);
            for (PjlinkConnection* connection : QList<PjlinkConnection*>(connections_)) {
                if (connection->peer().id == decision.victim)
                    connection->close(QStringLiteral("making room for a newcomer"));
            }
        }
        book_.add(peer.id, peer.key, guard_.clock().nowMs());
        guard_.log().event(peer.key, QStringLiteral("connected"),
                           peer.name + QStringLiteral(": connected"));
        auto* connection = new PjlinkConnection(socket, service_, options_, guard_, peer, this);
        connections_.append(connection);
        connect(connection, &PjlinkConnection::finished, this, &PjlinkServer::finished);
        connect(connection, &PjlinkConnection::active, this,
                [this, id = peer.id] { book_.touch(id, guard_.clock().nowMs()); });
        // Only now, with its end connected: a client that has reset makes the greeting fail,
        // and the connection end there and then.
        connection->start();
    }
}

void PjlinkServer::sweep() {
    for (PjlinkConnection* connection : QList<PjlinkConnection*>(connections_))
        connection->endIfGone();
}

void PjlinkServer::finished(PjlinkConnection* connection) {
    book_.remove(connection->peer().id);
    connections_.removeOne(connection);
    connection->deleteLater();
    if (closing_ && connections_.isEmpty())
        emit closed();
}

} // namespace trv::bridge::pjlink
