#pragma once

// STUB for building the http branch alone: the real EventHub replaces this file at merge.

#include "link/service/ProjectorService.h"
#include "link/service/Sender.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QWebSocket>
#include <memory>
#include <vector>

namespace trv::http {

// GET /api/events: the pages' WebSockets (stub: keeps them, says nothing).
class EventHub : public QObject {
    Q_OBJECT
public:
    EventHub(service::ProjectorService& service, QString name, bool passwordSet,
             QObject* parent = nullptr);

    void add(std::unique_ptr<QWebSocket> socket, service::Sender sender, QByteArray sessionId);
    void endSession(const QByteArray& sessionId);
    void endAllSessions();
    void closeAll();
    int clients() const { return int(sockets_.size()); }

private:
    struct Client {
        std::unique_ptr<QWebSocket> socket;
        QByteArray session;
    };
    std::vector<Client> sockets_;
};

} // namespace trv::http
