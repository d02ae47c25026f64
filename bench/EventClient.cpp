#include "EventClient.h"

#include <QJsonDocument>
#include <QUrl>

namespace bench {

EventClient::EventClient(QObject* parent) : QObject(parent) {
    socket_.setProxy(QNetworkProxy::NoProxy);
    connect(&socket_, &QWebSocket::textMessageReceived, this, &EventClient::received);
    connect(&socket_, &QWebSocket::disconnected, this, [this] { closed_ = true; });
}

void EventClient::open(const QString& httpUrl) {
    QUrl url(httpUrl);
    url.setScheme(url.scheme() == QLatin1String("https") ? QStringLiteral("wss")
                                                         : QStringLiteral("ws"));
    url.setPath(QStringLiteral("/api/events"));
    socket_.open(url);
}

void EventClient::send(const QJsonObject& message) {
    socket_.sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void EventClient::received(const QString& text) {
    const auto at = Clock::now();
    ++messages_;
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    if (!hello_) {
        hello_ = message.value(QLatin1String("type")).toString() == QLatin1String("hello");
        return;
    }
    if (handler_)
        handler_(message, at);
}

} // namespace bench
