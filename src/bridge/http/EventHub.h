#pragma once

#include "link/clock/Timer.h"
#include "link/service/ProjectorService.h"

#include <QByteArray>
#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QWebSocketProtocol>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>

class QJsonObject;
class QWebSocket;

namespace trv::http {

// The pages' WebSockets: each is greeted with the line, the displays, the hold and the last
// traffic, then told of every event of the service as it comes; what a page sends (a press, a
// hold and its keep-alive, a release) goes to the service as its client's. A client that sends
// too much, takes too little or stops answering pings is dropped, and its hold ends with it.
class EventHub : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxClients = 64;
    static constexpr qint64 kMaxMessageBytes = 4 * 1024;
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
    static constexpr int kPingMs = 10000;
    static constexpr int kMissedPings = 2;
    static constexpr int kCloseGraceMs = 2000;
    static constexpr int kRecordMessages = 50;
    // Sends of one page that may wait for the line at a time: the queue is everyone's.
    static constexpr int kMaxWaitingSends = 4;

    EventHub(service::ProjectorService& service, QString name, bool passwordSet,
             QObject* parent = nullptr);
    ~EventHub() override;

    // `socket` is open; `sender` is its client's (Kind::Web, a unique id); `sessionId` the
    // session that authorised it, empty without a password.
    void add(std::unique_ptr<QWebSocket> socket, service::Sender sender, QByteArray sessionId);
    // The clients of a session that ended (a logout) are closed.
    void endSession(const QByteArray& sessionId);
    // Every client is closed: the password changed, so no session holds.
    void endAllSessions();
    // Every client is closed: the bridge stops.
    void closeAll();
    int clients() const { return int(clients_.size()); }

private:
    struct Client {
        std::unique_ptr<QWebSocket> socket;
        service::Sender sender;
        QByteArray session;
        int unansweredPings = 0;
        int waitingSends = 0;
        bool closing = false;
        std::unique_ptr<Timer> grace; // cuts a closing client whose peer never closes
    };

    void serviceEvent(const service::ServiceEvent& event);
    void received(std::uint64_t id, const QString& message);
    void sendCommand(Client& client, const QJsonObject& message);
    void startHold(Client& client, const QJsonObject& message);
    void refuse(std::uint64_t id, const QString& message);
    // Writes one message; false when that dropped the client.
    bool write(Client& client, const QJsonObject& message);
    void close(std::uint64_t id, QWebSocketProtocol::CloseCode code, const QString& reason);
    void drop(std::uint64_t id);
    void closeWhere(const std::function<bool(const Client&)>& which,
                    QWebSocketProtocol::CloseCode code, const QString& reason);
    void gone(std::uint64_t id);
    void ping();
    Client* find(std::uint64_t id);

    service::ProjectorService& service_;
    const QString name_;
    const bool passwordSet_;
    std::map<std::uint64_t, std::unique_ptr<Client>> clients_;
    std::deque<QJsonObject> record_; // the last traffic messages, for a page's start
    std::unique_ptr<Timer> ping_;
};

} // namespace trv::http
