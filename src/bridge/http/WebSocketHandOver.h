#pragma once

#include <QString>
#include <memory>

class QWebSocket;

namespace trv::http {

class HttpGate;

// Where the server hands over a WebSocket: only one whose upgrade the gate let through is
// kept. Qt HttpServer 6.4 switches protocols whatever the route answered, so any other is
// closed at once as a policy violation (1008) before an event reaches it.
class WebSocketHandOver {
public:
    // `socket`, or null once it has been closed.
    static std::unique_ptr<QWebSocket> take(HttpGate& gate, std::unique_ptr<QWebSocket> socket);
    // Closes `socket` as a policy violation (1008) saying `reason`; it lives on under the gate
    // until its peer closes, or for the gate's close grace.
    static void refuse(HttpGate& gate, std::unique_ptr<QWebSocket> socket, const QString& reason);
};

} // namespace trv::http
