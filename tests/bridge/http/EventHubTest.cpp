// The pages' WebSockets on a fake line: real clients on 127.0.0.1, well-behaved and hostile.
#include "bridge/http/EventHub.h"
#include "support/Fakes.h"
#include "support/LoopbackServer.h"
#include "support/Spin.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>
#include <QWebSocketServer>
#include <gtest/gtest.h>

namespace trv::http {
namespace {

using service::ProjectorService;
using service::Sender;
using testing::LoopbackServer;
using testing::spinUntil;
using Peer = LoopbackServer::Peer;
using Strings = std::vector<std::string>;

// A page's end of the WebSocket that keeps what it is sent.
struct Page {
    QWebSocket socket;
    std::vector<QJsonObject> messages;
    bool closed = false;

    explicit Page(quint16 port) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket,
                         [this](const QString& text) {
                             messages.push_back(QJsonDocument::fromJson(text.toUtf8()).object());
                         });
        QObject::connect(&socket, &QWebSocket::disconnected, &socket, [this] { closed = true; });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(port)));
    }
    void send(const char* json) { socket.sendTextMessage(QString::fromUtf8(json)); }
    bool has(const char* type, const QString& field = {}, const QJsonValue& value = {}) const {
        for (const QJsonObject& message : messages) {
            if (message[QStringLiteral("type")] == QLatin1String(type) &&
                (field.isEmpty() || message[field] == value))
                return true;
        }
        return false;
    }
};

class EventHubTest : public ::testing::Test {
protected:
    EventHubTest() {
        service.start();
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server, &QWebSocketServer::newConnection, &server, [this] {
            while (server.hasPendingConnections()) {
                std::unique_ptr<QWebSocket> socket(server.nextPendingConnection());
                socket->setParent(nullptr);
                const std::string from = socket->peerAddress().toString().toStdString();
                hub.add(std::move(socket), Sender{Sender::Kind::Web, from, ++lastId}, "session");
            }
        });
    }
    // A client that asks for the upgrade and then reads nothing, not even pings.
    Peer deafClient() {
        Peer peer = LoopbackServer::connect(server.serverPort());
        peer.shrinkReceiveBuffer();
        peer.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                  "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                  "Sec-WebSocket-Version: 13\r\n\r\n");
        const std::string head = peer.receive(5000, 1 << 16, "\r\n\r\n");
        EXPECT_TRUE(head.starts_with("HTTP/1.1 101")) << head;
        return peer;
    }
    // One masked text frame (the mask 0, which leaves the bytes as they are).
    static std::string frame(const std::string& text) {
        std::string bytes{'\x81', char(0x80 | text.size()), 0, 0, 0, 0};
        return bytes + text;
    }
    static service::ServiceEvent bigDisplay(int n) {
        service::ServiceEvent event;
        event.kind = service::ServiceEvent::Kind::Display;
        event.display.tx = std::string(4000, 'x');
        event.display.status = std::to_string(n);
        return event;
    }

    testing::FakeSerialPort port;
    testing::ManualClock clock;
    ProjectorService service{port, clock, {.port = "COM3", .address = "A002"}, {}};
    EventHub hub{service, QStringLiteral("TRV-M5400"), false};
    QWebSocketServer server{QStringLiteral("test"), QWebSocketServer::NonSecureMode};
    std::uint64_t lastId = 0;
};

TEST_F(EventHubTest, PageIsGreetedThenToldAndItsPressesAndHoldsGoToTheService) {
    Page page(server.serverPort());
    ASSERT_TRUE(spinUntil([&] { return !page.messages.empty(); }));
    const QJsonObject hello = page.messages[0];
    EXPECT_EQ(hello[QStringLiteral("type")], QStringLiteral("hello"));
    EXPECT_EQ(hello[QStringLiteral("client")], 1);
    EXPECT_EQ(hello[QStringLiteral("name")], QStringLiteral("TRV-M5400"));
    EXPECT_EQ(hello[QStringLiteral("address")], QStringLiteral("A002"));
    EXPECT_EQ(hello[QStringLiteral("line")][QStringLiteral("up")], true);
    EXPECT_EQ(hello[QStringLiteral("hold")][QStringLiteral("active")], false);

    page.send(R"({"type":"send","command":"C00","address":"A001"})");
    ASSERT_TRUE(spinUntil([&] { return page.has("traffic", QStringLiteral("mine"), true); }));
    EXPECT_EQ(port.writes, Strings{"A001C00\r"});

    // Another page holds: this one's hold is refused with who holds, its bad press too.
    ASSERT_EQ(service.startHold("C47", std::nullopt, Sender{Sender::Kind::Web, "127.0.0.2", 99}),
              ProjectorService::HoldOutcome::Started);
    ASSERT_TRUE(spinUntil([&] { return page.has("hold", QStringLiteral("active"), true); }));
    page.send(R"({"type":"hold","command":"C46","address":""})");
    ASSERT_TRUE(spinUntil([&] { return page.has("refused"); }));
    EXPECT_TRUE(
        page.has("refused", QStringLiteral("message"), QStringLiteral("held by web 127.0.0.2")));
    page.messages.clear();
    page.send(R"({"type":"hold","command":"C00"})");
    ASSERT_TRUE(spinUntil([&] { return page.has("refused"); }));
    EXPECT_TRUE(page.messages.back()[QStringLiteral("message")].toString().startsWith(
        QStringLiteral("C00 cannot be held")));
    page.messages.clear();
    page.send(R"({"type":"send","command":"C0\r"})");
    ASSERT_TRUE(spinUntil([&] { return page.has("refused"); }));
    for (const std::string& written : port.writes)
        EXPECT_NE(written, "C0\r\r");
}

struct CloseRow {
    const char* what;
    bool binary;
    int size;
    int code;
};

void PrintTo(const CloseRow& row, std::ostream* out) { *out << row.what; }

class HostileMessages : public EventHubTest, public ::testing::WithParamInterface<CloseRow> {};

TEST_P(HostileMessages, CloseTheClientUnread) {
    const CloseRow& row = GetParam();
    Page page(server.serverPort());
    ASSERT_TRUE(spinUntil([&] { return !page.messages.empty(); }));
    // A press padded to the size: were it read, it would go out.
    QByteArray press = R"({"type":"send","command":"C00"})";
    press += QByteArray(row.size - press.size(), ' ');
    if (row.binary)
        page.socket.sendBinaryMessage(press);
    else
        page.socket.sendTextMessage(QString::fromLatin1(press));
    ASSERT_TRUE(spinUntil([&] { return page.closed; })) << row.what;
    EXPECT_EQ(int(page.socket.closeCode()), row.code) << row.what;
    EXPECT_TRUE(spinUntil([&] { return hub.clients() == 0; })) << row.what;
    EXPECT_EQ(port.writes, Strings{}) << row.what;
}

INSTANTIATE_TEST_SUITE_P(Table, HostileMessages,
                         ::testing::Values(CloseRow{"text over 4 KiB", false, 4097, 1009},
                                           CloseRow{"binary", true, 40, 1003}),
                         [](const ::testing::TestParamInfo<CloseRow>& info) {
                             return std::to_string(info.index);
                         });

TEST_F(EventHubTest, MessageOfFourKiBIsRead) {
    Page page(server.serverPort());
    ASSERT_TRUE(spinUntil([&] { return !page.messages.empty(); }));
    QByteArray press = R"({"type":"send","command":"C00"})";
    press += QByteArray(EventHub::kMaxMessageBytes - press.size(), ' ');
    page.socket.sendTextMessage(QString::fromLatin1(press));
    EXPECT_TRUE(spinUntil([&] { return !port.writes.empty(); }));
    EXPECT_FALSE(page.closed);
}

TEST_F(EventHubTest, ClientThatStopsReadingIsDroppedAndOneThatReadsKeepsEveryEvent) {
    Page reader(server.serverPort());
    ASSERT_TRUE(spinUntil([&] { return !reader.messages.empty(); }));
    Peer deaf = deafClient();
    ASSERT_TRUE(spinUntil([&] { return hub.clients() == 2; }));
    // 4 KB an event, each taken by the reader before the next: 8 MB at most, far past what
    // the system buffers for the deaf one.
    int sent = 0;
    while (hub.clients() == 2 && sent < 2000) {
        emit service.event(bigDisplay(++sent));
        ASSERT_TRUE(spinUntil([&] { return reader.messages.size() == std::size_t(sent) + 1; }));
    }
    EXPECT_EQ(hub.clients(), 1);
    EXPECT_LT(sent, 2000);
    EXPECT_FALSE(reader.closed);
    for (int n = 1; n <= sent; ++n)
        EXPECT_EQ(reader.messages[std::size_t(n)][QStringLiteral("status")], QString::number(n));
}

TEST_F(EventHubTest, ClientThatAnswersNoPingsIsDroppedAfterTwo) {
    Page page(server.serverPort());
    ASSERT_TRUE(spinUntil([&] { return !page.messages.empty(); }));
    Peer deaf = deafClient();
    ASSERT_TRUE(spinUntil([&] { return hub.clients() == 2; }));
    for (int ping = 1; ping <= 2; ++ping) {
        clock.advance(EventHub::kPingMs);
        // An event after the ping, and a message after the page's pong, whose refusal says
        // that the hub has had the pong.
        emit service.event(bigDisplay(ping));
        ASSERT_TRUE(spinUntil([&] { return page.has("display"); }));
        page.messages.clear();
        page.send(R"({"type":"nothing"})");
        ASSERT_TRUE(spinUntil([&] { return page.has("refused"); }));
        page.messages.clear();
        EXPECT_EQ(hub.clients(), 2) << ping;
    }
    clock.advance(EventHub::kPingMs);
    EXPECT_TRUE(spinUntil([&] { return hub.clients() == 1; }));
    EXPECT_FALSE(page.closed);
}

struct EndRow {
    const char* what;
    bool reset; // a TCP reset, else a close frame
};

void PrintTo(const EndRow& row, std::ostream* out) { *out << row.what; }

class HoldEnds : public EventHubTest, public ::testing::WithParamInterface<EndRow> {};

TEST_P(HoldEnds, WhenItsClientGoes) {
    const EndRow& row = GetParam();
    Peer peer = deafClient();
    ASSERT_TRUE(spinUntil([&] { return hub.clients() == 1; }));
    peer.send(frame(R"({"type":"hold","command":"C47","address":""})"));
    ASSERT_TRUE(spinUntil([&] { return service.hold().active; })) << row.what;
    EXPECT_EQ(service.hold().holder.id, lastId) << row.what;
    if (row.reset)
        peer.resetNow();
    else
        peer.send(std::string{'\x88', '\x82', 0, 0, 0, 0, '\x03', '\xe8'}); // 1000
    // The clock stands still: no keep-alive is missed, only the client went.
    EXPECT_TRUE(spinUntil([&] { return !service.hold().active; })) << row.what;
    EXPECT_TRUE(spinUntil([&] { return hub.clients() == 0; })) << row.what;
}

INSTANTIATE_TEST_SUITE_P(Table, HoldEnds,
                         ::testing::Values(EndRow{"close frame", false}, EndRow{"reset", true}),
                         [](const ::testing::TestParamInfo<EndRow>& info) {
                             return std::to_string(info.index);
                         });

} // namespace
} // namespace trv::http
