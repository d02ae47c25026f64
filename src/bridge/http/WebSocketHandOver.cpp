#include "bridge/http/WebSocketHandOver.h"

#include "bridge/http/HttpGate.h"

#include <QWebSocket>

namespace trv::http {

std::unique_ptr<QWebSocket> WebSocketHandOver::take(const HttpGate& gate,
                                                    std::unique_ptr<QWebSocket> socket) {
    if (!socket)
        return nullptr;
    if (gate.upgradeApproved(socket->peerAddress(), socket->peerPort()))
        return socket;
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                  QStringLiteral("upgrade not allowed"));
    // The close frame is out once the event loop writes it; the socket goes with the
    // connection.
    QWebSocket* closing = socket.release();
    QObject::connect(closing, &QWebSocket::disconnected, closing, &QObject::deleteLater);
    return nullptr;
}

} // namespace trv::http
