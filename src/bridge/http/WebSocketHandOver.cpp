#include "bridge/http/WebSocketHandOver.h"

#include "bridge/http/HttpGate.h"

#include <QTimer>
#include <QWebSocket>

namespace trv::http {

std::unique_ptr<QWebSocket> WebSocketHandOver::take(HttpGate& gate,
                                                    std::unique_ptr<QWebSocket> socket) {
    if (!socket)
        return nullptr;
    if (gate.upgradeApproved(socket->peerAddress(), socket->peerPort()))
        return socket;
    refuse(gate, std::move(socket), QStringLiteral("upgrade not allowed"));
    return nullptr;
}

void WebSocketHandOver::refuse(HttpGate& gate, std::unique_ptr<QWebSocket> socket,
                               const QString& reason) {
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated, reason);
    // The close frame is out once the event loop writes it; the socket goes with the
    // connection, or after the gate's close grace if the peer never closes, and with the gate at
    // the latest.
    QWebSocket* closing = socket.release();
    closing->setParent(&gate);
    QObject::connect(closing, &QWebSocket::disconnected, closing, &QObject::deleteLater);
    QTimer::singleShot(gate.limits().closeGraceMs, closing, [closing] {
        closing->abort();
        closing->deleteLater();
    });
}

} // namespace trv::http
