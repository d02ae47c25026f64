#pragma once

#include "Harness.h"

#include <QJsonObject>
#include <QNetworkProxy>
#include <QWebSocket>
#include <functional>

namespace bench {

// A plain WebSocket client of the daemon's /api/events, as a page holds one: it takes the
// hello and then every message, each stamped as it is received.
class EventClient : public QObject {
public:
    using Handler = std::function<void(const QJsonObject& message, Clock::time_point received)>;

    explicit EventClient(QObject* parent = nullptr);
    // The relay to connect through; none by default.
    void setProxy(const QNetworkProxy& proxy) { socket_.setProxy(proxy); }
    // `httpUrl` as the daemon prints it: "http://127.0.0.1:PORT/".
    void open(const QString& httpUrl);
    bool hasHello() const { return hello_; }
    bool isClosed() const { return closed_; }
    int messages() const { return messages_; }
    void send(const QJsonObject& message);
    // Called with each message after the hello.
    void onMessage(Handler handler) { handler_ = std::move(handler); }

private:
    void received(const QString& text);

    QWebSocket socket_;
    Handler handler_;
    bool hello_ = false;
    bool closed_ = false;
    int messages_ = 0;
};

} // namespace bench
