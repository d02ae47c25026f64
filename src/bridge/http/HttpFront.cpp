#include "bridge/http/HttpFront.h"

#include "bridge/http/ApiJson.h"
#include "bridge/http/HttpGate.h"
#include "bridge/http/WebSocketHandOver.h"
#include "link/service/ProjectorService.h"
#include "listen/AddressKey.h"
#include "listen/ListenGuard.h"

#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>
#include <memory>

namespace trv::http {
namespace {

using Method = QHttpServerRequest::Method;

constexpr const char* kPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'";

// Every reply of the front end, with the headers every reply carries.
void write(QHttpServerResponder& responder, int status, const QByteArray& body,
           const QByteArray& contentType, const HttpFront::Headers& extra = {}) {
    responder.writeStatusLine(QHttpServerResponder::StatusCode(status));
    responder.writeHeader("Content-Type", contentType);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Content-Security-Policy", kPolicy);
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeHeader("Referrer-Policy", "same-origin");
    responder.writeHeader("Cache-Control", "no-store");
    for (const auto& [name, value] : extra)
        responder.writeHeader(name, value);
    responder.writeBody(body);
}

void writeJson(QHttpServerResponder& responder, int status, const QByteArray& body,
               const HttpFront::Headers& extra = {}) {
    write(responder, status, body, "application/json", extra);
}

void writeReply(QHttpServerResponder& responder, const ApiReply& reply) {
    write(responder, reply.status, reply.body, reply.contentType, reply.headers);
}

void redirect(QHttpServerResponder& responder, const QByteArray& to,
              HttpFront::Headers extra = {}) {
    extra.emplace_back("Location", to);
    write(responder, 303, {}, "text/plain; charset=utf-8", extra);
}

QByteArray contentType(const QString& file) {
    if (file.endsWith(QLatin1String(".html")))
        return "text/html; charset=utf-8";
    if (file.endsWith(QLatin1String(".js")))
        return "text/javascript; charset=utf-8";
    if (file.endsWith(QLatin1String(".css")))
        return "text/css; charset=utf-8";
    return "application/octet-stream";
}

// Why a PEM file cannot be used, or empty.
QString unreadable(const QString& path, QByteArray& bytes) {
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("it is a folder");
    if (info.exists() && !info.isFile())
        return QStringLiteral("not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString why = file.errorString();
        return why.left(1).toLower() + why.mid(1);
    }
    if (file.size() > (1 << 20))
        return QStringLiteral("larger than 1 MiB");
    bytes = file.readAll();
    return {};
}

} // namespace

HttpFront::HttpFront(service::ProjectorService& service, listen::ListenGuard& guard,
                     Settings settings, QObject* parent)
    : QObject(parent), service_(service), guard_(guard), settings_(std::move(settings)),
      sessions_(guard.clock()), auth_(guard, sessions_), gate_(new HttpGate(guard)),
      exchange_(service), events_(service, settings_.name, !settings_.password.isEmpty()) {
    auth_.setPassword(settings_.password);
    gate_->setHostNames(settings_.hosts);
    gate_->setTls(settings_.tls);
    // The upgrade of /api/events needs a route that takes it; every other request goes to
    // dispatch.
    server_.route(QStringLiteral("/api/events"),
                  [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                      if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0)
                          return; // the server hands the socket over: webSockets()
                      writeJson(responder, 426, ApiJson::error(QStringLiteral("WebSocket only")),
                                {{"Upgrade", "websocket"}});
                  });
    server_.setMissingHandler(
        [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
            dispatch(request, std::move(responder));
        });
    connect(&server_, &QAbstractHttpServer::newWebSocketConnection, this, &HttpFront::webSockets);
}

HttpFront::~HttpFront() = default;

std::optional<QSslConfiguration> HttpFront::loadTls(const QString& certFile, const QString& keyFile,
                                                    QString& error) {
    QByteArray certBytes, keyBytes;
    if (const QString why = unreadable(certFile, certBytes); !why.isEmpty()) {
        error = QStringLiteral("cannot read the certificate %1: %2").arg(certFile, why);
        return std::nullopt;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certBytes, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        error = QStringLiteral("%1 holds no PEM certificate").arg(certFile);
        return std::nullopt;
    }
    if (const QString why = unreadable(keyFile, keyBytes); !why.isEmpty()) {
        error = QStringLiteral("cannot read the private key %1: %2").arg(keyFile, why);
        return std::nullopt;
    }
    QSslKey key(keyBytes, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyBytes, QSsl::Ec, QSsl::Pem);
    if (key.isNull()) {
        error =
            QStringLiteral("%1 holds no PEM private key (RSA or EC, not encrypted)").arg(keyFile);
        return std::nullopt;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    return tls;
}

bool HttpFront::listen(const QHostAddress& host, quint16 port, QString& error) {
    if (!gate_->listen(host, port)) {
        error = gate_->errorString();
        return false;
    }
    server_.bind(gate_);
    return true;
}

QString HttpFront::url() const {
    const QHostAddress host = gate_->serverAddress();
    const QString address =
        host == QHostAddress(QHostAddress::Any) ? QStringLiteral("::") : host.toString();
    return QStringLiteral("%1://%2:%3/")
        .arg(gate_->tls() ? QStringLiteral("https") : QStringLiteral("http"),
             address.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(address) : address)
        .arg(gate_->serverPort());
}

void HttpFront::setPassword(const QString& password) {
    settings_.password = password;
    if (auth_.setPassword(password))
        events_.endAllSessions();
}

void HttpFront::setHosts(const QStringList& hosts) {
    settings_.hosts = hosts;
    gate_->setHostNames(hosts);
}

void HttpFront::closeAll() {
    closing_ = true;
    gate_->close();
    events_.closeAll();
    for (QTcpSocket* socket : gate_->sockets()) {
        connect(socket, &QObject::destroyed, this, &HttpFront::checkClosed, Qt::QueuedConnection);
        socket->disconnectFromHost();
    }
    QMetaObject::invokeMethod(this, &HttpFront::checkClosed, Qt::QueuedConnection);
}

void HttpFront::checkClosed() {
    if (closing_ && gate_->connectionCount() == 0) {
        closing_ = false;
        emit closed();
    }
}

HttpFront::Peer HttpFront::peerOf(const QHttpServerRequest& request) const {
    QHostAddress address = request.remoteAddress();
    bool v4 = false;
    if (const quint32 ip4 = address.toIPv4Address(&v4); v4)
        address = QHostAddress(ip4);
    const QTcpSocket* socket = gate_->current();
    const quint16 port = socket ? socket->peerPort() : 0;
    return {listen::AddressKey::of(address),
            QStringLiteral("web client %1").arg(listen::AddressKey::printable(address, port)),
            address.toString().toStdString()};
}

QByteArray HttpFront::cookie(const QByteArray& value, bool clear) const {
    QByteArray text =
        QByteArray(HttpAuth::kCookie) + '=' + value + "; Path=/; HttpOnly; SameSite=Strict";
    if (clear)
        text += "; Max-Age=0";
    if (gate_->tls())
        text += "; Secure";
    return text;
}

void HttpFront::dispatch(const QHttpServerRequest& request, QHttpServerResponder&& responder) {
    const QString path = request.url().path();
    const Method method = request.method();
    const auto only = [&](Method allowed, const char* allow) {
        if (method == allowed)
            return true;
        write(responder, 405, "method not allowed\n", "text/plain; charset=utf-8",
              {{"Allow", allow}});
        return false;
    };
    // What needs no session: the login and its style.
    if (path == QLatin1String("/login")) {
        if (method == Method::Post)
            login(request, responder);
        else if (only(Method::Get, "GET, POST"))
            page(QStringLiteral("login.html"), request, responder);
        return;
    }
    if (path == QLatin1String("/login.css")) {
        if (only(Method::Get, "GET"))
            page(QStringLiteral("login.css"), request, responder);
        return;
    }
    if (path == QLatin1String("/logout")) {
        if (only(Method::Post, "POST"))
            logout(request, responder);
        return;
    }
    const Peer peer = peerOf(request);
    const HttpAuth::Verdict verdict =
        auth_.check(request.value("cookie"), request.value("authorization"), peer.key, peer.who);
    const bool isApi = path.startsWith(QLatin1String("/api/"));
    if (verdict.result == HttpAuth::Result::Waiting) {
        const Headers retry{{"Retry-After", QByteArray::number(verdict.retryAfterS)}};
        const QString message =
            QStringLiteral("too many failed logins: try again in %1 s").arg(verdict.retryAfterS);
        if (isApi)
            writeJson(responder, 429, ApiJson::error(message), retry);
        else
            write(responder, 429, message.toUtf8() + '\n', "text/plain; charset=utf-8", retry);
        return;
    }
    if (!verdict.allowed()) {
        if (path == QLatin1String("/") && verdict.result == HttpAuth::Result::Missing) {
            redirect(responder, "/login");
            return;
        }
        const QString message = verdict.result == HttpAuth::Result::Wrong
                                    ? QStringLiteral("wrong password")
                                    : QStringLiteral("log in first (a session, or "
                                                     "Authorization: Bearer PASSWORD)");
        const Headers challenge{{"WWW-Authenticate", "Bearer realm=\"trv-bridge\""}};
        if (isApi)
            writeJson(responder, 401, ApiJson::error(message), challenge);
        else
            write(responder, 401, message.toUtf8() + '\n', "text/plain; charset=utf-8", challenge);
        return;
    }
    if (isApi) {
        api(path, request, std::move(responder), peer);
        return;
    }
    // Made from what is known already: a scrape never waits for the line.
    if (path == QLatin1String("/metrics") && metrics_) {
        if (only(Method::Get, "GET"))
            write(responder, 200, QByteArray::fromStdString(metrics_()),
                  "text/plain; version=0.0.4; charset=utf-8");
        return;
    }
    static const struct {
        const char* path;
        const char* file;
    } kPages[] = {{"/", "index.html"}, {"/panel.js", "panel.js"}, {"/panel.css", "panel.css"}};
    for (const auto& known : kPages) {
        if (path == QLatin1String(known.path)) {
            if (only(Method::Get, "GET"))
                page(QLatin1String(known.file), request, responder);
            return;
        }
    }
    write(responder, 404, "not found\n", "text/plain; charset=utf-8");
}

void HttpFront::page(const QString& file, const QHttpServerRequest& request,
                     QHttpServerResponder& responder) {
    if (file == QLatin1String("login.html")) {
        const Peer peer = peerOf(request);
        // Nothing to log in to, or logged in already.
        if (!auth_.passwordSet() ||
            auth_.check(request.value("cookie"), {}, peer.key, peer.who).allowed()) {
            redirect(responder, "/");
            return;
        }
        loginForm(responder, 200, {});
        return;
    }
    QFile source(settings_.webRoot + QLatin1Char('/') + file);
    if (!source.open(QIODevice::ReadOnly)) {
        write(responder, 404, "not built in\n", "text/plain; charset=utf-8");
        return;
    }
    write(responder, 200, source.readAll(), contentType(file));
}

void HttpFront::loginForm(QHttpServerResponder& responder, int status, const QString& message,
                          Headers extra) {
    QFile source(settings_.webRoot + QStringLiteral("/login.html"));
    QByteArray html = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
    if (html.isEmpty())
        html = "<!DOCTYPE html><title>Log in</title><form method=\"post\" action=\"/login\">"
               "<p><!--message--></p><input type=\"password\" name=\"password\">"
               "<button>Log in</button></form>";
    // The page marks where a message goes.
    html.replace("<!--message-->", message.toHtmlEscaped().toUtf8());
    write(responder, status, html, "text/html; charset=utf-8", extra);
}

void HttpFront::login(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    const Peer peer = peerOf(request);
    QByteArray form = request.body();
    form.replace('+', ' ');
    const QByteArray password = QUrlQuery(QString::fromUtf8(form))
                                    .queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded)
                                    .toUtf8();
    const HttpAuth::Verdict verdict = auth_.login(password, peer.key, peer.who);
    switch (verdict.result) {
    case HttpAuth::Result::Open:
        redirect(responder, "/");
        return;
    case HttpAuth::Result::Session:
        guard_.log().event(peer.key, QStringLiteral("logged in"),
                           peer.who + QStringLiteral(": logged in"));
        redirect(responder, "/", {{"Set-Cookie", cookie(verdict.session, false)}});
        return;
    case HttpAuth::Result::Waiting:
        loginForm(
            responder, 429,
            QStringLiteral("Too many failed logins: try again in %1 s.").arg(verdict.retryAfterS),
            {{"Retry-After", QByteArray::number(verdict.retryAfterS)}});
        return;
    default:
        loginForm(responder, 401, QStringLiteral("Wrong password."));
        return;
    }
}

void HttpFront::logout(const QHttpServerRequest& request, QHttpServerResponder& responder) {
    if (const QByteArray session = auth_.logout(request.value("cookie")); !session.isEmpty())
        events_.endSession(session);
    redirect(responder, "/login", {{"Set-Cookie", cookie({}, true)}});
}

std::function<void(ApiReply)> HttpFront::later(QHttpServerResponder&& responder) {
    auto pending = std::make_shared<QHttpServerResponder>(std::move(responder));
    QPointer<QTcpSocket> socket = gate_->current();
    if (socket)
        HttpGate::pause(socket);
    return [pending, socket](ApiReply reply) {
        if (!socket || socket->state() != QAbstractSocket::ConnectedState)
            return;
        writeReply(*pending, reply);
        HttpGate::resume(socket);
    };
}

void HttpFront::api(const QString& path, const QHttpServerRequest& request,
                    QHttpServerResponder&& responder, const Peer& peer) {
    const Method method = request.method();
    const auto only = [&](Method allowed, const char* allow) {
        if (method == allowed)
            return true;
        writeJson(responder, 405, ApiJson::error(QStringLiteral("method not allowed")),
                  {{"Allow", allow}});
        return false;
    };
    if (path == QLatin1String("/api/layout")) {
        if (only(Method::Get, "GET"))
            writeJson(responder, 200, ApiJson::layout());
    } else if (path == QLatin1String("/api/catalogue")) {
        if (only(Method::Get, "GET"))
            writeJson(responder, 200, ApiJson::catalogue());
    } else if (path == QLatin1String("/api/status")) {
        if (!only(Method::Get, "GET"))
            return;
        if (request.query().queryItemValue(QStringLiteral("fresh")) == QLatin1String("1"))
            freshStatus(std::move(responder), peer);
        else
            writeJson(responder, 200,
                      ApiJson::status(service_, settings_.name, guard_.clock().nowMs()));
    } else if (path == QLatin1String("/api/record")) {
        if (!only(Method::Get, "GET"))
            return;
        bool ok = false;
        const QString given = request.query().queryItemValue(QStringLiteral("lines"));
        int lines = given.isEmpty() ? 100 : given.toInt(&ok);
        if (!given.isEmpty() && (!ok || lines < 0)) {
            writeJson(responder, 400, ApiJson::error(QStringLiteral("lines: 0 to 1000")));
            return;
        }
        lines = std::min(lines, 1000);
        const auto& record = service_.record();
        QByteArray text;
        for (auto it = record.end() - std::min<std::ptrdiff_t>(lines, record.size());
             it != record.end(); ++it) {
            // Each line as the record writes it, its own line end included.
            text += QByteArray::fromStdString(*it);
            if (!text.endsWith('\n'))
                text += '\n';
        }
        write(responder, 200, text, "text/plain; charset=utf-8");
    } else if (path == QLatin1String("/api/send") || path == QLatin1String("/api/read")) {
        if (!only(Method::Post, "POST"))
            return;
        const service::Sender sender{service::Sender::Kind::Api, peer.address,
                                     service::Sender::nextId()};
        if (path == QLatin1String("/api/send"))
            exchange_.send(request.body(), sender, later(std::move(responder)));
        else
            exchange_.read(request.body(), sender, later(std::move(responder)));
    } else {
        writeJson(responder, 404, ApiJson::error(QStringLiteral("no such API")));
    }
}

void HttpFront::freshStatus(QHttpServerResponder&& responder, const Peer& peer) {
    auto answer = later(std::move(responder));
    auto left = std::make_shared<int>(int(std::size(ApiJson::kStatusReads)));
    const service::Sender sender{service::Sender::Kind::Api, peer.address,
                                 service::Sender::nextId()};
    QPointer<HttpFront> self(this);
    for (const char* command : ApiJson::kStatusReads) {
        service::ProjectorService::Request read;
        read.command = command;
        read.sender = sender;
        read.shared = true;
        read.dueMs = 5000;
        // Whatever each read's outcome, the status says what is known once all are answered.
        service_.exchange(std::move(read), [self, left, answer](service::ProjectorService::Outcome,
                                                                const ExchangeResult&) {
            if (--*left > 0 || !self)
                return;
            answer({200,
                    ApiJson::status(self->service_, self->settings_.name,
                                    self->guard_.clock().nowMs()),
                    "application/json",
                    {}});
        });
    }
}

void HttpFront::webSockets() {
    while (server_.hasPendingWebSocketConnections()) {
        std::unique_ptr<QWebSocket> socket =
            WebSocketHandOver::take(*gate_, server_.nextPendingWebSocketConnection());
        if (!socket)
            continue;
        QHostAddress address = socket->peerAddress();
        bool v4 = false;
        if (const quint32 ip4 = address.toIPv4Address(&v4); v4)
            address = QHostAddress(ip4);
        const QString key = listen::AddressKey::of(address);
        const QString who = QStringLiteral("web client %1")
                                .arg(listen::AddressKey::printable(address, socket->peerPort()));
        const HttpAuth::Verdict verdict =
            auth_.check(socket->request().rawHeader("Cookie"),
                        socket->request().rawHeader("Authorization"), key, who);
        if (!verdict.allowed()) {
            guard_.log().event(key, QStringLiteral("refused, not logged in"),
                               who + QStringLiteral(": WebSocket refused, not logged in"));
            WebSocketHandOver::refuse(*gate_, std::move(socket), QStringLiteral("log in first"));
            continue;
        }
        const service::Sender sender{service::Sender::Kind::Web, address.toString().toStdString(),
                                     service::Sender::nextId()};
        events_.add(std::move(socket), sender, verdict.session);
    }
}

} // namespace trv::http
