// The web panel's server on loopback, in front of the projector service on a fake line: who
// gets in, the back-off, the headers every reply carries, and HTTPS.
#include "bridge/http/HttpFront.h"
#include "bridge/http/HttpGate.h"
#include "link/panel/PanelLayout.h"
#include "link/service/ProjectorService.h"
#include "listen/ListenGuard.h"
#include "support/Fakes.h"
#include "support/LoopbackServer.h"
#include "support/Spin.h"
#include "support/TestCertificates.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <map>

namespace trv::http {
namespace {

using testing::LoopbackServer;

struct Reply {
    int status = 0;
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

// One reply parsed from what a connection received; status 0 when none came whole.
Reply parse(const std::string& bytes) {
    Reply reply;
    const std::size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos || bytes.compare(0, 9, "HTTP/1.1 ") != 0)
        return reply;
    std::size_t line = bytes.find("\r\n");
    for (std::size_t at = line + 2; at < end; at = line + 2) {
        line = bytes.find("\r\n", at);
        const std::string field = bytes.substr(at, line - at);
        const std::size_t colon = field.find(':');
        std::string name = field.substr(0, colon);
        for (char& c : name)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        reply.headers[name] = field.substr(field.find_first_not_of(' ', colon + 1));
    }
    reply.body = bytes.substr(end + 4);
    if (reply.body.size() != std::stoul("0" + reply.header("content-length")))
        return {};
    reply.status = std::stoi(bytes.substr(9, 3));
    return reply;
}

class HttpFrontTest : public ::testing::Test {
protected:
    void start(const QString& password = QStringLiteral("room12"),
               std::optional<QSslConfiguration> tls = std::nullopt) {
        HttpFront::Settings settings;
        settings.password = password;
        settings.tls = std::move(tls);
        front = std::make_unique<HttpFront>(service, guard, settings);
        QString error;
        ASSERT_TRUE(front->listen(QHostAddress::LocalHost, 0, error)) << error.toStdString();
        port = front->gate().serverPort();
    }
    std::string authority() const { return "127.0.0.1:" + std::to_string(port); }
    std::string head(const std::string& method, const std::string& path, const std::string& headers,
                     const std::string& body) const {
        std::string text = method + " " + path + " HTTP/1.1\r\nHost: " + authority() + "\r\n";
        if (method == "POST")
            text += "Origin: http://" + authority() +
                    "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n";
        return text + headers + "\r\n" + body;
    }
    // One request on a connection of its own from 127.0.0.`from`.
    Reply ask(const std::string& method, const std::string& path, const std::string& headers = {},
              const std::string& body = {}, int from = 1) {
        LoopbackServer::Peer peer = LoopbackServer::connect(port, from);
        if (!peer.isOpen() || !peer.send(head(method, path, headers, body)))
            return {};
        std::string got;
        Reply reply;
        for (int i = 0; i < 100 && reply.status == 0; ++i) {
            got += peer.receive(50);
            reply = parse(got);
        }
        return reply;
    }
    std::string login(const std::string& password, int from = 1) {
        const Reply reply = ask("POST", "/login", {}, "password=" + password, from);
        const std::string cookie = reply.header("set-cookie");
        return cookie.substr(0, cookie.find(';'));
    }

    testing::ManualClock clock;
    testing::FakeSerialPort line;
    service::ProjectorService service{line, clock, {"COM3", "", 1000, 1200}, {}};
    std::vector<QString> logged;
    listen::ListenGuard guard{clock, [this](const QString& text) { logged.push_back(text); }};
    std::unique_ptr<HttpFront> front;
    quint16 port = 0;
};

TEST_F(HttpFrontTest, EveryPageAndCallWantsASessionOrTheBearerPassword) {
    start();
    const std::string session = login("room12");
    ASSERT_EQ(session.substr(0, 12), "trv-session=");
    const std::string stale = login("room12");
    ask("POST", "/logout", "Cookie: " + stale + "\r\n");
    const struct {
        const char* name;
        const char* method;
        const char* path;
        std::string headers;
        int status;
    } rows[] = {
        {"no credentials", "GET", "/api/status", {}, 401},
        {"no credentials, the page", "GET", "/", {}, 303},
        {"no credentials, its script", "GET", "/panel.js", {}, 401},
        {"no credentials, the login's style", "GET", "/login.css", {}, 200},
        {"no credentials, the login", "GET", "/login", {}, 200},
        {"wrong bearer", "GET", "/api/layout", "Authorization: Bearer room13\r\n", 401},
        {"right bearer", "GET", "/api/layout", "Authorization: Bearer room12\r\n", 200},
        {"right bearer, a send", "POST", "/api/send", "Authorization: Bearer room12\r\n", -1},
        {"session", "GET", "/api/catalogue", "Cookie: " + session + "\r\n", 200},
        {"session, the page", "GET", "/", "Cookie: " + session + "\r\n", 200},
        {"session, the login", "GET", "/login", "Cookie: " + session + "\r\n", 303},
        {"logged out", "GET", "/api/status", "Cookie: " + stale + "\r\n", 401},
        {"unknown", "GET", "/api/nothing", "Cookie: " + session + "\r\n", 404},
        {"unknown, no credentials", "GET", "/api/nothing", {}, 401},
        {"metrics, no credentials", "GET", "/metrics", {}, 401},
        {"metrics, wrong bearer", "GET", "/metrics", "Authorization: Bearer room13\r\n", 401},
        {"metrics, right bearer", "GET", "/metrics", "Authorization: Bearer room12\r\n", 200},
        {"metrics, posted", "POST", "/metrics", "Authorization: Bearer room12\r\n", 405},
    };
    front->setMetrics([] { return std::string("trv_line_up 0\n"); });
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Reply reply = ask(row.method, row.path, row.headers);
        if (row.status == -1)
            EXPECT_NE(reply.status, 401);
        else
            EXPECT_EQ(reply.status, row.status) << reply.body;
        guard.backoff().succeeded(QStringLiteral("127.0.0.1"));
    }
    EXPECT_EQ(ask("GET", "/").header("location"), "/login");
    const Reply wrong = ask("POST", "/login", {}, "password=room13");
    EXPECT_EQ(wrong.status, 401);
    EXPECT_NE(wrong.body.find("Wrong password."), std::string::npos) << wrong.body;
    EXPECT_TRUE(wrong.header("set-cookie").empty());
    guard.backoff().succeeded(QStringLiteral("127.0.0.1"));

    // Unused for 12 hours the session is over; a changed password ends the others.
    const std::string later = login("room12");
    clock.advance(SessionBook::kIdleMs - 1);
    EXPECT_EQ(ask("GET", "/api/status", "Cookie: " + later + "\r\n").status, 200);
    clock.advance(1);
    EXPECT_EQ(ask("GET", "/api/status", "Cookie: " + session + "\r\n").status, 401);
    EXPECT_EQ(ask("GET", "/api/status", "Cookie: " + later + "\r\n").status, 200);
    front->setPassword(QStringLiteral("room13"));
    EXPECT_EQ(ask("GET", "/api/status", "Cookie: " + later + "\r\n").status, 401);
    EXPECT_EQ(ask("GET", "/api/status", "Authorization: Bearer room13\r\n").status, 200);
    EXPECT_EQ(ask("GET", "/api/status", "Authorization: Bearer room12\r\n").status, 401);
}

TEST_F(HttpFrontTest, MetricsInPrometheusTextFormatAndFailedLoginsCountedAsHttps) {
    start();
    front->setMetrics([] { return std::string("trv_line_up 0\n"); });
    const Reply metrics = ask("GET", "/metrics", "Authorization: Bearer room12\r\n");
    EXPECT_EQ(metrics.header("content-type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_EQ(metrics.body, "trv_line_up 0\n");
    ask("GET", "/metrics", "Authorization: Bearer room13\r\n");
    ask("POST", "/login", {}, "password=guess", 2);
    EXPECT_EQ(guard.backoff().failures("http"), 2u);
    EXPECT_EQ(guard.backoff().failures("pjlink"), 0u);
}

TEST_F(HttpFrontTest, GuessingWaitsWith429AndRetryAfterOnlyForTheGuesser) {
    start();
    for (int i = 0; i < listen::LoginBackoff::kFreeFailures; ++i)
        EXPECT_EQ(ask("POST", "/login", {}, "password=guess", 5).status, 401);
    const Reply waiting = ask("POST", "/login", {}, "password=room12", 5);
    EXPECT_EQ(waiting.status, 429);
    EXPECT_EQ(waiting.header("retry-after"), "1");
    EXPECT_TRUE(waiting.header("set-cookie").empty());
    const Reply api = ask("GET", "/api/status", "Authorization: Bearer room12\r\n", {}, 5);
    EXPECT_EQ(api.status, 429);
    EXPECT_EQ(api.header("retry-after"), "1");
    EXPECT_EQ(ask("POST", "/login", {}, "password=room12", 6).status, 303) << "others go on";
    clock.advance(1000);
    EXPECT_EQ(ask("POST", "/login", {}, "password=room12", 5).status, 303);
    const auto count = std::count_if(logged.begin(), logged.end(), [](const QString& text) {
        return text.contains(QLatin1String("127.0.0.5")) &&
               text.contains(QLatin1String("failed login (wrong password)"));
    });
    EXPECT_GE(count, 1);
}

TEST_F(HttpFrontTest, EveryReplyCarriesThePolicyHeaders) {
    start();
    const Reply page = ask("GET", "/login");
    const Reply api = ask("GET", "/api/layout", "Authorization: Bearer room12\r\n");
    const Reply refused = ask("GET", "/api/layout");
    for (const Reply* reply : {&page, &api, &refused}) {
        EXPECT_EQ(reply->header("content-security-policy"),
                  "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
                  "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
                  "form-action 'self'");
        EXPECT_EQ(reply->header("x-content-type-options"), "nosniff");
        EXPECT_EQ(reply->header("referrer-policy"), "same-origin");
    }
    // Refused at the gate, before the server: a name the bridge does not answer to.
    LoopbackServer::Peer rebound = LoopbackServer::connect(port);
    rebound.send("GET /login HTTP/1.1\r\nHost: evil.example\r\n\r\n");
    const Reply gate = parse(rebound.receive(5000)); // it closes after
    EXPECT_EQ(gate.status, 403);
    EXPECT_EQ(gate.header("content-security-policy"), "default-src 'none'; frame-ancestors 'none'");
    EXPECT_EQ(gate.header("x-content-type-options"), "nosniff");
    EXPECT_EQ(gate.header("referrer-policy"), "same-origin");
    EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("name=\"password\""), std::string::npos) << "the compiled-in page";
    EXPECT_EQ(api.header("content-type"), "application/json");
    EXPECT_EQ(api.header("cache-control"), "no-store");
    EXPECT_EQ(refused.header("content-type"), "application/json");

    const QJsonObject layout =
        QJsonDocument::fromJson(QByteArray::fromStdString(api.body)).object();
    EXPECT_EQ(layout[QStringLiteral("width")].toInt(), PanelLayout::kClientWidth);
    const QJsonArray buttons = layout[QStringLiteral("buttons")].toArray();
    ASSERT_EQ(std::size_t(buttons.size()), PanelLayout::buttons().size());
    const QJsonObject on = buttons[0].toObject();
    EXPECT_EQ(on[QStringLiteral("command")].toString(), QStringLiteral("C00"));
    EXPECT_EQ(on[QStringLiteral("colour")].toString(), QStringLiteral("#80ff80"));
    EXPECT_TRUE(on[QStringLiteral("arrow")].isNull());
    EXPECT_EQ(
        layout[QStringLiteral("addresses")].toArray()[1].toObject()[QStringLiteral("address")],
        QStringLiteral("AFFF"));

    const std::string cookie = ask("POST", "/login", {}, "password=room12").header("set-cookie");
    EXPECT_NE(cookie.find("; Path=/; HttpOnly; SameSite=Strict"), std::string::npos) << cookie;
    EXPECT_EQ(cookie.find("Secure"), std::string::npos) << "not over plain HTTP";
}

TEST_F(HttpFrontTest, AReplyThatWaitsForTheLineKeepsItsPlaceBeforeTheNextRequests) {
    line.failOpen = true; // every read is answered "line down", from the event loop
    start(QString());
    LoopbackServer::Peer peer = LoopbackServer::connect(port);
    ASSERT_TRUE(
        peer.send(head("GET", "/api/status?fresh=1", {}, {}) + head("GET", "/api/layout", {}, {})));
    std::string got;
    for (int i = 0; i < 100 && got.find("\"buttons\"") == std::string::npos; ++i)
        got += peer.receive(50);
    const std::size_t status = got.find("\"values\"");
    const std::size_t layout = got.find("\"buttons\"");
    ASSERT_NE(status, std::string::npos) << got;
    ASSERT_NE(layout, std::string::npos) << got;
    EXPECT_LT(status, layout);
    EXPECT_GE(line.attempts, 1) << "the reads went to the service";
}

TEST_F(HttpFrontTest, AWebSocketWantsASessionTooOnceTheGateLetItThrough) {
    start();
    const std::string session = login("room12");
    const auto open = [&](const std::string& cookie) {
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/events").arg(port)));
        request.setRawHeader("Origin", QByteArray("http://") + authority().c_str());
        if (!cookie.empty())
            request.setRawHeader("Cookie", QByteArray::fromStdString(cookie));
        auto socket = std::make_unique<QWebSocket>();
        socket->open(request);
        return socket;
    };
    auto without = open({});
    auto with = open(session);
    ASSERT_TRUE(testing::spinUntil([&] {
        return without->closeCode() == QWebSocketProtocol::CloseCodePolicyViolated;
    })) << without->closeCode();
    EXPECT_EQ(without->closeReason(), QStringLiteral("log in first"));
    ASSERT_TRUE(
        testing::spinUntil([&] { return with->state() == QAbstractSocket::ConnectedState; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(with->state(), QAbstractSocket::ConnectedState);
}

TEST_F(HttpFrontTest, ServesHttpsWithTheGivenCertificateAndKey) {
    if (!testing::TestCertificates::available())
        GTEST_SKIP() << "no openssl command";
    QTemporaryDir dir;
    testing::TestCertificates certificates;
    ASSERT_TRUE(certificates.make(dir.path()));
    QString error;
    EXPECT_FALSE(HttpFront::loadTls(dir.path() + QStringLiteral("/none.crt"),
                                    certificates.key("server"), error));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot read the certificate")))
        << error.toStdString();
    EXPECT_FALSE(HttpFront::loadTls(certificates.key("server"), certificates.key("server"), error));
    EXPECT_TRUE(error.contains(QStringLiteral("holds no PEM certificate"))) << error.toStdString();
    EXPECT_FALSE(HttpFront::loadTls(certificates.crt("server"), certificates.crt("server"), error));
    EXPECT_TRUE(error.contains(QStringLiteral("holds no PEM private key"))) << error.toStdString();
    auto tls =
        HttpFront::loadTls(certificates.crt("selfsigned"), certificates.key("selfsigned"), error);
    ASSERT_TRUE(tls) << error.toStdString();
    start(QStringLiteral("room12"), tls);
    EXPECT_EQ(front->url(), QStringLiteral("https://127.0.0.1:%1/").arg(port));

    QSslSocket client;
    client.setPeerVerifyMode(QSslSocket::VerifyNone);
    client.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    ASSERT_TRUE(testing::spinUntil([&] { return client.isEncrypted(); }));
    EXPECT_EQ(client.peerCertificate(),
              QSslCertificate::fromPath(certificates.crt("selfsigned")).value(0));
    const std::string body = "password=room12";
    client.write(QByteArray::fromStdString(
        "POST /login HTTP/1.1\r\nHost: " + authority() + "\r\nOrigin: https://" + authority() +
        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
    std::string got;
    Reply reply;
    ASSERT_TRUE(testing::spinUntil([&] {
        got += client.readAll().toStdString();
        reply = parse(got);
        return reply.status != 0;
    })) << got;
    EXPECT_EQ(reply.status, 303);
    EXPECT_NE(reply.header("set-cookie").find("; Secure"), std::string::npos);

    // Plain HTTP on the HTTPS port gets no page.
    LoopbackServer::Peer plain = LoopbackServer::connect(port);
    plain.send(head("GET", "/login", {}, {}));
    EXPECT_EQ(plain.receive(500).find("HTTP/1.1 200"), std::string::npos);
}

} // namespace
} // namespace trv::http
