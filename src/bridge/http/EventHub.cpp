#include "bridge/http/EventHub.h"

#include "bridge/http/CommandCheck.h"
#include "bridge/http/EventJson.h"
#include "bridge/http/Refusal.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QWebSocket>
#include <vector>

namespace trv::http {

using service::ProjectorService;

EventHub::EventHub(ProjectorService& service, QString name, bool passwordSet, QObject* parent)
    : QObject(parent), service_(service), name_(std::move(name)), passwordSet_(passwordSet),
      ping_(service.clock().createTimer(kPingMs, false)) {
    // What the record holds from before: who sent it is no longer known.
    const auto& lines = service_.record();
    const std::size_t skip = lines.size() > kRecordMessages ? lines.size() - kRecordMessages : 0;
    for (auto line = lines.begin() + std::ptrdiff_t(skip); line != lines.end(); ++line) {
        if (std::optional<QJsonObject> message = recordLineJson(*line))
            record_.push_back(std::move(*message));
    }
    connect(&service_, &ProjectorService::event, this, &EventHub::serviceEvent);
    connect(ping_.get(), &Timer::timeout, this, &EventHub::ping);
    ping_->setEnabled(true);
}

EventHub::~EventHub() {
    // Gone with the hub, without reports to it on the way.
    for (auto& [id, client] : clients_) {
        disconnect(client->socket.get(), nullptr, this, nullptr);
        client->socket->abort();
    }
}

EventHub::Client* EventHub::find(std::uint64_t id) {
    const auto found = clients_.find(id);
    return found == clients_.end() ? nullptr : found->second.get();
}

void EventHub::add(std::unique_ptr<QWebSocket> socket, service::Sender sender,
                   QByteArray sessionId) {
    if (!socket)
        return;
    // A peer gone before the hand-over has had its disconnected signal already.
    if (clients() >= kMaxClients || find(sender.id) || sender.id == 0 ||
        socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket.release()->deleteLater();
        return;
    }
    const std::uint64_t id = sender.id;
    QWebSocket* raw = socket.get();
    // Anything bigger is closed by the socket itself with 1009.
    raw->setMaxAllowedIncomingFrameSize(quint64(kMaxMessageBytes));
    raw->setMaxAllowedIncomingMessageSize(quint64(kMaxMessageBytes));
    auto client = std::make_unique<Client>();
    client->socket = std::move(socket);
    client->sender = std::move(sender);
    client->session = std::move(sessionId);
    clients_.emplace(id, std::move(client));
    connect(raw, &QWebSocket::textMessageReceived, this,
            [this, id](const QString& message) { received(id, message); });
    connect(raw, &QWebSocket::binaryMessageReceived, this, [this, id] {
        close(id, QWebSocketProtocol::CloseCodeDatatypeNotSupported,
              QStringLiteral("text messages only"));
    });
    connect(raw, &QWebSocket::pong, this, [this, id] {
        if (Client* client = find(id))
            client->unansweredPings = 0;
    });
    connect(raw, &QWebSocket::disconnected, this, [this, id] { gone(id); });

    QJsonArray record;
    for (const QJsonObject& message : record_)
        record.append(message);
    write(*find(id), QJsonObject{{QStringLiteral("type"), QStringLiteral("hello")},
                                 {QStringLiteral("client"), qint64(id)},
                                 {QStringLiteral("name"), name_},
                                 {QStringLiteral("address"),
                                  QString::fromStdString(service_.settings().address)},
                                 {QStringLiteral("password"), passwordSet_},
                                 {QStringLiteral("line"), lineJson(service_.lineState())},
                                 {QStringLiteral("display"), displayJson(service_.display())},
                                 {QStringLiteral("hold"), holdJson(service_.hold(), id)},
                                 {QStringLiteral("record"), record}});
}

void EventHub::serviceEvent(const service::ServiceEvent& event) {
    if (event.kind == service::ServiceEvent::Kind::Traffic) {
        record_.push_back(trafficJson(event.traffic, event.sender, 0));
        if (record_.size() > kRecordMessages)
            record_.pop_front();
    }
    // Each as it comes; a write may drop its client, so by id.
    std::vector<std::uint64_t> ids;
    ids.reserve(clients_.size());
    for (const auto& [id, client] : clients_)
        ids.push_back(id);
    for (const std::uint64_t id : ids) {
        Client* client = find(id);
        if (!client || client->closing)
            continue;
        if (std::optional<QJsonObject> message = eventJson(event, id))
            write(*client, *message);
    }
}

bool EventHub::write(Client& client, const QJsonObject& message) {
    if (client.closing)
        return true;
    client.socket->sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
    // A page that does not take what it is sent would hold it all here.
    if (client.socket->bytesToWrite() >= kMaxUnsentBytes) {
        drop(client.sender.id);
        return false;
    }
    return true;
}

void EventHub::received(std::uint64_t id, const QString& text) {
    Client* client = find(id);
    if (!client || client->closing)
        return;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isObject())
        return refuse(id, QStringLiteral("not a JSON object"));
    const QJsonObject message = document.object();
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("send"))
        sendCommand(*client, message);
    else if (type == QLatin1String("hold"))
        startHold(*client, message);
    else if (type == QLatin1String("keep"))
        service_.keepHold(id);
    else if (type == QLatin1String("release"))
        service_.endHold(id);
    else
        refuse(id, QStringLiteral("unknown message type"));
}

void EventHub::sendCommand(Client& client, const QJsonObject& message) {
    const QJsonValue command = message.value(QStringLiteral("command"));
    const QJsonValue address = message.value(QStringLiteral("address"));
    QString problem = CommandCheck::commandProblem(command);
    if (problem.isEmpty())
        problem = CommandCheck::addressProblem(address);
    const std::uint64_t id = client.sender.id;
    if (!problem.isEmpty())
        return refuse(id, problem);
    if (client.waitingSends >= kMaxWaitingSends)
        return refuse(id, QStringLiteral("busy: wait for the commands sent before"));
    ProjectorService::Request request;
    request.command = command.toString().toStdString();
    request.address = CommandCheck::address(address);
    request.sender = client.sender;
    request.yieldToHold = true;
    ++client.waitingSends;
    // What came back is shown by the events; only a refusal is answered here.
    service_.exchange(std::move(request),
                      [hub = QPointer<EventHub>(this), id](ProjectorService::Outcome outcome,
                                                           const ExchangeResult&) {
                          if (!hub)
                              return;
                          if (Client* sender = hub->find(id))
                              --sender->waitingSends;
                          if (outcome != ProjectorService::Outcome::Done)
                              hub->refuse(id, Refusal::of(outcome, hub->service_).message());
                      });
}

void EventHub::startHold(Client& client, const QJsonObject& message) {
    const QJsonValue command = message.value(QStringLiteral("command"));
    const QJsonValue address = message.value(QStringLiteral("address"));
    QString problem = CommandCheck::commandProblem(command);
    if (problem.isEmpty())
        problem = CommandCheck::addressProblem(address);
    const std::uint64_t id = client.sender.id;
    if (!problem.isEmpty())
        return refuse(id, problem);
    const std::string text = command.toString().toStdString();
    const ProjectorService::HoldOutcome outcome =
        service_.startHold(text, CommandCheck::address(address), client.sender);
    if (outcome != ProjectorService::HoldOutcome::Started)
        refuse(id, Refusal::of(outcome, text, service_).message());
}

void EventHub::refuse(std::uint64_t id, const QString& message) {
    if (Client* client = find(id))
        write(*client, QJsonObject{{QStringLiteral("type"), QStringLiteral("refused")},
                                   {QStringLiteral("message"), message}});
}

void EventHub::ping() {
    std::vector<std::uint64_t> silent;
    for (auto& [id, client] : clients_) {
        if (client->closing)
            continue;
        if (client->unansweredPings >= kMissedPings) {
            silent.push_back(id);
            continue;
        }
        ++client->unansweredPings;
        client->socket->ping();
    }
    for (const std::uint64_t id : silent)
        drop(id);
}

void EventHub::close(std::uint64_t id, QWebSocketProtocol::CloseCode code, const QString& reason) {
    Client* client = find(id);
    if (!client || client->closing)
        return;
    client->closing = true;
    // The hold ends as the page is told to go, not when its peer answers the close.
    service_.endHold(id);
    client->grace = service_.clock().createTimer(kCloseGraceMs, false);
    connect(client->grace.get(), &Timer::timeout, this, [this, id] { drop(id); });
    client->grace->setEnabled(true);
    client->socket->close(code, reason);
}

void EventHub::drop(std::uint64_t id) {
    Client* client = find(id);
    if (!client)
        return;
    disconnect(client->socket.get(), nullptr, this, nullptr);
    client->socket->abort();
    gone(id);
}

void EventHub::gone(std::uint64_t id) {
    const auto found = clients_.find(id);
    if (found == clients_.end())
        return;
    std::unique_ptr<Client> client = std::move(found->second);
    clients_.erase(found);
    // This may run inside a signal of the socket or of the grace timer.
    disconnect(client->socket.get(), nullptr, this, nullptr);
    client->socket.release()->deleteLater();
    if (client->grace)
        client->grace.release()->deleteLater();
    service_.endHold(id);
}

void EventHub::closeWhere(const std::function<bool(const Client&)>& which,
                          QWebSocketProtocol::CloseCode code, const QString& reason) {
    // Closing may drop a client: the ids first, then the closes.
    std::vector<std::uint64_t> ids;
    for (const auto& [id, client] : clients_) {
        if (which(*client))
            ids.push_back(id);
    }
    for (const std::uint64_t id : ids)
        close(id, code, reason);
}

void EventHub::endSession(const QByteArray& sessionId) {
    if (sessionId.isEmpty())
        return;
    closeWhere([&](const Client& client) { return client.session == sessionId; },
               QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("session ended"));
}

void EventHub::endAllSessions() {
    closeWhere([](const Client&) { return true; }, QWebSocketProtocol::CloseCodePolicyViolated,
               QStringLiteral("session ended"));
}

void EventHub::closeAll() {
    closeWhere([](const Client&) { return true; }, QWebSocketProtocol::CloseCodeGoingAway,
               QStringLiteral("bridge stopping"));
}

} // namespace trv::http
