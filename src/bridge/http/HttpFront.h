#pragma once

#include "bridge/http/ApiExchange.h"
#include "bridge/http/EventHub.h"
#include "bridge/http/HttpAuth.h"
#include "bridge/http/SessionBook.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QHttpServerRequest;
class QHttpServerResponder;
class QTcpSocket;

namespace trv::listen {
class ListenGuard;
}
namespace trv::service {
class ProjectorService;
}

namespace trv::http {

class HttpGate;

// The web panel and the HTTP API on one listener: Qt HttpServer behind the gate, the pages
// from the program's resources, logins and sessions, and the API on the projector service.
class HttpFront : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString name = QStringLiteral("TRV-M5400");
        QString password; // empty: everyone may use it
        QStringList hosts;
        std::optional<QSslConfiguration> tls; // HTTPS
        QString webRoot = QStringLiteral(":/web");
    };
    using Headers = std::vector<std::pair<QByteArray, QByteArray>>;

    // `service` and `guard` outlive this.
    HttpFront(service::ProjectorService& service, listen::ListenGuard& guard, Settings settings,
              QObject* parent = nullptr);
    ~HttpFront() override;

    // The TLS configuration of a server with this PEM certificate and key, or nothing with
    // `error` saying why they cannot be used.
    static std::optional<QSslConfiguration> loadTls(const QString& certFile, const QString& keyFile,
                                                    QString& error);

    bool listen(const QHostAddress& host, quint16 port, QString& error);
    // Where it is: "http://127.0.0.1:43118/", "https://[::1]:8443/".
    QString url() const;
    // A changed password ends every session, and with them the pages' WebSockets.
    void setPassword(const QString& password);
    void setHosts(const QStringList& hosts);
    // What GET /metrics answers, in Prometheus' text format; none: no such page.
    void setMetrics(std::function<std::string()> metrics) { metrics_ = std::move(metrics); }
    // Stops listening and closes every connection; closed() once they are gone.
    void closeAll();

    SessionBook& sessions() { return sessions_; }
    HttpGate& gate() { return *gate_; }

signals:
    void closed();

private:
    struct Peer {
        QString key;         // the listen key of its address
        QString who;         // as the log names it
        std::string address; // as a sender shows it
    };
    Peer peerOf(const QHttpServerRequest& request) const;
    void dispatch(const QHttpServerRequest& request, QHttpServerResponder&& responder);
    void page(const QString& file, const QHttpServerRequest& request,
              QHttpServerResponder& responder);
    void loginForm(QHttpServerResponder& responder, int status, const QString& message,
                   Headers extra = {});
    void login(const QHttpServerRequest& request, QHttpServerResponder& responder);
    void logout(const QHttpServerRequest& request, QHttpServerResponder& responder);
    void api(const QString& path, const QHttpServerRequest& request,
             QHttpServerResponder&& responder, const Peer& peer);
    void freshStatus(QHttpServerResponder&& responder, const Peer& peer);
    // Answers later: the connection's next request waits until then, and nothing is written
    // if the connection has gone meanwhile.
    std::function<void(ApiReply)> later(QHttpServerResponder&& responder);
    void webSockets();
    void checkClosed();
    QByteArray cookie(const QByteArray& value, bool clear) const;

    service::ProjectorService& service_;
    listen::ListenGuard& guard_;
    Settings settings_;
    SessionBook sessions_;
    HttpAuth auth_;
    QHttpServer server_;
    HttpGate* gate_; // the server's
    ApiExchange exchange_;
    EventHub events_;
    std::function<std::string()> metrics_;
    bool closing_ = false;
};

} // namespace trv::http
