// STUB for building the http branch alone: the real EventHub replaces this file at merge.
#include "bridge/http/EventHub.h"

#include <algorithm>

namespace trv::http {

EventHub::EventHub(service::ProjectorService&, QString, bool, QObject* parent) : QObject(parent) {}

void EventHub::add(std::unique_ptr<QWebSocket> socket, service::Sender, QByteArray sessionId) {
    sockets_.push_back({std::move(socket), std::move(sessionId)});
}

void EventHub::endSession(const QByteArray& sessionId) {
    std::erase_if(sockets_, [&](const Client& client) { return client.session == sessionId; });
}

void EventHub::endAllSessions() { sockets_.clear(); }

void EventHub::closeAll() { sockets_.clear(); }

} // namespace trv::http
