#include "bridge/http/HttpGate.h"

#include "bridge/http/GatedConnection.h"
#include "link/clock/Clock.h"
#include "listen/AddressKey.h"
#include "listen/ListenGuard.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace trv::http {

HttpGate::HttpGate(listen::ListenGuard& guard, QObject* parent)
    : QTcpServer(parent), guard_(guard), book_({limits_.total, limits_.perAddress}) {}

HttpGate::~HttpGate() {
    for (const auto& [id, connection] : connections_)
        connection->detach();
}

void HttpGate::setLimits(const Limits& limits) {
    limits_ = limits;
    book_.setLimits({limits_.total, limits_.perAddress});
}

void HttpGate::setHostNames(const QStringList& names) {
    names_.clear();
    for (const QString& name : names)
        names_.push_back(name.trimmed().toLower().toStdString());
}

void HttpGate::setTls(std::optional<QSslConfiguration> tls) {
    tls_ = std::move(tls);
    setScheme(tls_ ? QStringLiteral("https") : QStringLiteral("http"));
}

void HttpGate::pause(QTcpSocket* socket) {
    if (auto* connection =
            socket->findChild<GatedConnection*>(QString(), Qt::FindDirectChildrenOnly))
        connection->setAnswering(true);
}

void HttpGate::resume(QTcpSocket* socket) {
    if (auto* connection =
            socket->findChild<GatedConnection*>(QString(), Qt::FindDirectChildrenOnly))
        connection->setAnswering(false);
}

QList<QTcpSocket*> HttpGate::sockets() const {
    QList<QTcpSocket*> all;
    for (const auto& [id, connection] : connections_)
        all.append(connection->socket());
    return all;
}

bool HttpGate::upgradeApproved(const QHostAddress& peer, quint16 peerPort) const {
    for (const auto& [id, connection] : connections_) {
        const QTcpSocket* socket = connection->socket();
        if (socket->peerPort() == peerPort && socket->peerAddress().isEqual(peer))
            return connection->upgradeApproved();
    }
    return false;
}

std::string HttpGate::ownAuthority(const QTcpSocket& socket) const {
    bool v4 = false;
    const quint32 ip4 = socket.localAddress().toIPv4Address(&v4);
    const QHostAddress local = v4 ? QHostAddress(ip4) : socket.localAddress();
    const QString host = local.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(local.toString())
                             : local.toString();
    return QStringLiteral("%1:%2").arg(host).arg(socket.localPort()).toLower().toStdString();
}

void HttpGate::log(const QString& key, const QString& kind, const QString& line) {
    guard_.log().event(key, kind, line);
}

void HttpGate::incomingConnection(qintptr handle) {
    QSslSocket* tlsSocket = tls_ ? new QSslSocket(this) : nullptr;
    QTcpSocket* socket = tlsSocket ? tlsSocket : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    if (tlsSocket) {
        tlsSocket->setSslConfiguration(*tls_);
        // A handshake that fails ends the connection; one that never ends meets the idle time.
        connect(tlsSocket, &QAbstractSocket::errorOccurred, tlsSocket,
                [tlsSocket](QAbstractSocket::SocketError error) {
                    if (error == QAbstractSocket::SslHandshakeFailedError)
                        tlsSocket->abort();
                });
    }
    const quint64 id = ++accepted_;
    const QString key = listen::AddressKey::of(socket->peerAddress());
    const QString name =
        QStringLiteral("client %1 (%2)")
            .arg(id)
            .arg(listen::AddressKey::printable(socket->peerAddress(), socket->peerPort()));
    // Connections on their way out count too, up to a bound on sockets whatever peers do.
    if (key.isEmpty() || int(connections_.size()) >= 2 * limits_.total) {
        log(key, QStringLiteral("refused, clients connected already"),
            name +
                QStringLiteral(": refused, %1 clients connected already").arg(connections_.size()));
        socket->abort();
        socket->deleteLater();
        return;
    }
    const listen::ConnectionBook::Decision decision = book_.admit(key);
    // An address at its cap gives up its own idlest connection: a browser's idle keep-alive
    // connections never keep its next request out, and other addresses lose nothing.
    const quint64 victim = decision.kind == listen::ConnectionBook::Decision::Kind::Refuse
                               ? book_.idlestOf(key)
                               : decision.victim;
    if (victim != 0) {
        book_.remove(victim);
        if (const auto found = connections_.find(victim); found != connections_.end())
            found->second->close(QStringLiteral("making room for a newcomer"));
    }
    book_.add(id, key, guard_.clock().nowMs());
    socket->setReadBufferSize(readBufferBound());
    // Before the server ever sees the socket, so that this slot runs ahead of the server's.
    connections_[id] = new GatedConnection(socket, *this, id, key, name);
    log(key, QStringLiteral("connected"), name + QStringLiteral(": connected"));
    if (tlsSocket)
        tlsSocket->startServerEncryption();
}

void HttpGate::handOver(QTcpSocket* socket) {
    addPendingConnection(socket);
    // The server connects its slot only now, after this arrival.
    QMetaObject::invokeMethod(socket, &QIODevice::readyRead, Qt::QueuedConnection);
}

void HttpGate::touch(quint64 id) { book_.touch(id, guard_.clock().nowMs()); }

void HttpGate::gone(quint64 id) {
    book_.remove(id);
    connections_.erase(id);
}

} // namespace trv::http
