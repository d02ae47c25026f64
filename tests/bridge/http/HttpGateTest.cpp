#include "bridge/http/HttpGate.h"
#include "bridge/http/WebSocketHandOver.h"
#include "link/clock/QtClock.h"
#include "listen/ListenGuard.h"
#include "support/LoopbackServer.h"
#include "support/Spin.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpSocket>
#include <QWebSocket>
#include <gtest/gtest.h>
#include <thread>

namespace trv::http {
namespace {

using testing::LoopbackServer;
using Peer = LoopbackServer::Peer;

class HttpGateTest : public ::testing::Test {
protected:
    void start(HttpGate::Limits limits = {}) {
        gate = new HttpGate(guard);
        gate->setLimits(limits);
        ASSERT_TRUE(gate->listen(QHostAddress::LocalHost, 0));
        port = gate->serverPort();
        server.route("/ping", [] { return "pong"; });
        server.route("/api/send", QHttpServerRequest::Method::Post, [this] {
            ++sends;
            return "sent";
        });
        server.route("/big", [] { return QByteArray(32 * 1024, 'b'); });
        server.route("/api/events", [] { return QHttpServerResponse("text/plain", "events"); });
        server.bind(gate);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(port); }
    std::string ping() const { return "GET /ping HTTP/1.1\r\nHost: " + host() + "\r\n\r\n"; }
    // What comes until the gate closes, and whether it closed within `ms`.
    static std::pair<std::string, bool> untilClosed(Peer& peer, int ms = 5000) {
        QElapsedTimer clock;
        clock.start();
        std::string got = peer.receive(ms);
        return {got, clock.elapsed() < ms};
    }
    // Five pieces, each given time to reach the server; what came back meanwhile.
    static std::string sendInPieces(Peer& peer, const std::string& bytes) {
        const std::size_t piece = bytes.size() / 5 + 1;
        std::string got;
        for (std::size_t at = 0; at < bytes.size() && got.empty(); at += piece) {
            peer.send(bytes.substr(at, piece));
            if (at + piece < bytes.size())
                got += peer.receive(30);
        }
        return got;
    }
    static bool answeredPong(Peer& peer) {
        return peer.receive(5000, 1 << 16, "pong").ends_with("\r\n\r\npong");
    }

    QtClock clock;
    std::vector<QString> logged;
    listen::ListenGuard guard{clock, [this](const QString& line) { logged.push_back(line); }};
    QHttpServer server;
    HttpGate* gate = nullptr; // the server's
    quint16 port = 0;
    int sends = 0;
};

TEST_F(HttpGateTest, PassesWholeRequestsOnlyHoweverTheyArriveOnOneConnection) {
    start();
    Peer peer = LoopbackServer::connect(port);
    ASSERT_TRUE(peer.isOpen());
    ASSERT_TRUE(peer.send(ping()));
    EXPECT_TRUE(answeredPong(peer));
    // A later request in pieces, with time between them for the server to read each.
    const std::string request =
        "POST /api/send HTTP/1.1\r\nHost: " + host() + "\r\nContent-Length: 4\r\n\r\nC00\r";
    EXPECT_EQ(sendInPieces(peer, request.substr(0, request.size() - 1)), "");
    ASSERT_TRUE(peer.send(request.substr(request.size() - 1)));
    EXPECT_EQ(peer.receive(5000, 1 << 16, "sent").substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(sends, 1);
    // Two at once.
    ASSERT_TRUE(peer.send(ping() + ping()));
    std::string both;
    for (int i = 0; i < 100 && both.find("pong", both.find("pong") + 1) == std::string::npos; ++i)
        both += peer.receive(50);
    EXPECT_NE(both.find("pong", both.find("pong") + 1), std::string::npos) << both;
}

TEST_F(HttpGateTest, AnswersWhatItRefusesItselfAndCloses) {
    start();
    const std::string okHost = "Host: " + host() + "\r\n";
    const struct {
        const char* name;
        std::string bytes;
        const char* status;
    } rows[] = {
        {"head over 8 KiB",
         "GET /ping HTTP/1.1\r\n" + okHost + "X: " + std::string(8200, 'a') + "\r\n\r\n",
         "HTTP/1.1 431 "},
        {"rebound name",
         "GET /ping HTTP/1.1\r\nHost: evil.example:" + std::to_string(port) + "\r\n\r\n",
         "HTTP/1.1 403 "},
        {"cross-site send",
         "POST /api/send HTTP/1.1\r\n" + okHost +
             "Origin: http://evil.example\r\nContent-Length: 3\r\n\r\nC00",
         "HTTP/1.1 403 "},
        {"chunked body",
         "POST /api/send HTTP/1.1\r\n" + okHost +
             "Transfer-Encoding: chunked\r\n\r\n3\r\nC00\r\n0\r\n\r\n",
         "HTTP/1.1 411 "},
        {"bare line feeds", "GET /ping HTTP/1.1\n" + okHost + "\n", "HTTP/1.1 400 "},
    };
    for (const auto& row : rows) {
        for (const bool later : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (later ? ", in pieces after a request" : ""));
            Peer peer = LoopbackServer::connect(port);
            std::string early;
            if (later) {
                ASSERT_TRUE(peer.send(ping()));
                ASSERT_TRUE(answeredPong(peer));
                early = sendInPieces(peer, row.bytes);
            } else {
                peer.send(row.bytes);
            }
            auto [got, closed] = untilClosed(peer);
            got = early + got;
            EXPECT_EQ(got.substr(0, 13), row.status) << got;
            EXPECT_TRUE(got.find("Connection: close\r\n") != std::string::npos);
            EXPECT_TRUE(closed);
        }
    }
    EXPECT_EQ(sends, 0);
}

TEST_F(HttpGateTest, AHeadTrickledPastItsTimeIsAnswered408) {
    HttpGate::Limits limits;
    limits.requestMs = 300;
    start(limits);
    Peer peer = LoopbackServer::connect(port);
    const std::string request = ping();
    std::string got;
    std::size_t sent = 0;
    for (; sent < request.size() && got.empty(); ++sent) {
        peer.send(request.substr(sent, 1));
        got = peer.receive(60);
    }
    got += untilClosed(peer).first;
    EXPECT_EQ(got.substr(0, 13), "HTTP/1.1 408 ");
    EXPECT_LT(sent, request.size());
}

TEST_F(HttpGateTest, AHugeBodyIsRefusedWithoutBeingBuffered) {
    start();
    Peer peer = LoopbackServer::connect(port);
    ASSERT_TRUE(testing::spinUntil([&] { return gate->sockets().size() == 1; }));
    QTcpSocket* socket = gate->sockets().front();
    EXPECT_EQ(socket->readBufferSize(), gate->readBufferBound());
    EXPECT_LT(gate->readBufferBound(), 80 * 1024);
    const std::string body(1 << 20, 'x');
    std::thread sender([&] {
        peer.send("POST /api/send HTTP/1.1\r\nHost: " + host() +
                  "\r\nContent-Length: 1048576\r\n\r\n" + body);
    });
    std::string got;
    qint64 most = 0;
    QElapsedTimer waited;
    waited.start();
    bool closed = false;
    while (!closed && waited.elapsed() < 5000) {
        // Once the gate has sent its refusal and closed its sending half, the client reads its
        // end at once: the gate's events go on here all the same.
        got += peer.receive(10);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        closed = gate->sockets().isEmpty();
        for (QTcpSocket* s : gate->sockets())
            most = std::max(most, s->bytesAvailable());
    }
    peer.resetNow();
    sender.join();
    EXPECT_EQ(got.substr(0, 13), "HTTP/1.1 413 ");
    EXPECT_TRUE(closed);
    EXPECT_LE(most, gate->readBufferBound());
    EXPECT_EQ(sends, 0);
}

TEST_F(HttpGateTest, WritesWithoutNaglesDelay) {
    start();
    Peer peer = LoopbackServer::connect(port);
    ASSERT_TRUE(testing::spinUntil([&] { return gate->sockets().size() == 1; }));
    EXPECT_EQ(gate->sockets().front()->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
}

TEST_F(HttpGateTest, TheSeventeenthFromOneAddressTakesThePlaceOfItsIdlest) {
    start();
    std::vector<Peer> peers;
    for (int i = 0; i < HttpGate::kMaxPerAddress; ++i) {
        peers.push_back(LoopbackServer::connect(port, 2));
        ASSERT_TRUE(peers.back().send(ping()));
        ASSERT_TRUE(answeredPong(peers.back()));
    }
    Peer newcomer = LoopbackServer::connect(port, 2);
    ASSERT_TRUE(newcomer.send(ping()));
    EXPECT_TRUE(answeredPong(newcomer));
    const auto [rest, closed] = untilClosed(peers.front());
    EXPECT_TRUE(closed);
    EXPECT_TRUE(rest.empty());
    // The others from that address are still there.
    ASSERT_TRUE(peers.back().send(ping()));
    EXPECT_TRUE(answeredPong(peers.back()));
    EXPECT_LE(gate->connectionCount(), HttpGate::kMaxPerAddress);
}

TEST_F(HttpGateTest, OneAddressFloodingNeverKeepsAnotherOut) {
    HttpGate::Limits limits;
    limits.total = 8;
    limits.perAddress = 4;
    start(limits);
    // Half-sent heads from two addresses fill every place, and one of them keeps coming.
    std::vector<Peer> flood;
    for (int i = 0; i < 12; ++i) {
        flood.push_back(LoopbackServer::connect(port, i < 4 ? 3 : 2));
        flood.back().send("GET /ping HTTP/1.1\r\n");
        flood.back().receive(5);
    }
    for (const int from : {4, 5, 6}) {
        SCOPED_TRACE(from);
        Peer peer = LoopbackServer::connect(port, from);
        ASSERT_TRUE(peer.send(ping()));
        EXPECT_TRUE(answeredPong(peer));
    }
    EXPECT_LE(gate->connectionCount(), 2 * limits.total);
}

TEST_F(HttpGateTest, AClientThatNeverReadsHasItsNextRequestsWait) {
    HttpGate::Limits limits;
    limits.unsentBytes = 1024;
    start(limits);
    Peer peer = LoopbackServer::connect(port);
    std::string requests;
    for (int i = 0; i < 256; ++i)
        requests += "GET /big HTTP/1.1\r\nHost: " + host() + "\r\n\r\n";
    ASSERT_TRUE(peer.send(requests));
    qint64 most = 0;
    testing::spinUntil(
        [&] {
            for (QTcpSocket* socket : gate->sockets())
                most = std::max(most, socket->bytesToWrite());
            return false;
        },
        500);
    EXPECT_GT(most, 0);
    EXPECT_LE(most, 1024 + 32 * 1024 + 1024);
    // Reading, the client gets every reply.
    std::string got;
    std::size_t replies = 0;
    for (int i = 0; i < 400 && replies < 256; ++i) {
        got += peer.receive(20);
        replies = 0;
        for (auto at = got.find("HTTP/1.1 200"); at != std::string::npos;
             at = got.find("HTTP/1.1 200", at + 1))
            ++replies;
    }
    EXPECT_EQ(replies, 256u);
}

// A raw WebSocket upgrade to `path` from `origin`.
std::string upgrade(const std::string& host, const std::string& origin) {
    return "GET /api/events HTTP/1.1\r\nHost: " + host +
           "\r\nConnection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nOrigin: " +
           origin + "\r\n\r\n";
}

TEST_F(HttpGateTest, ACrossSiteUpgradeGets403AndNoWebSocket) {
    start();
    int webSockets = 0;
    QObject::connect(&server, &QHttpServer::newWebSocketConnection, &server, [&] { ++webSockets; });
    Peer peer = LoopbackServer::connect(port);
    ASSERT_TRUE(peer.send(upgrade(host(), "http://evil.example")));
    const auto [got, closed] = untilClosed(peer);
    EXPECT_EQ(got.substr(0, 13), "HTTP/1.1 403 ");
    EXPECT_EQ(got.find("101"), std::string::npos) << got;
    EXPECT_TRUE(closed);
    EXPECT_EQ(webSockets, 0);
}

TEST_F(HttpGateTest, OnlyAnUpgradeTheGateLetThroughIsKept) {
    HttpGate::Limits limits;
    limits.idleMs = 200;
    start(limits);
    std::vector<std::unique_ptr<QWebSocket>> kept;
    QObject::connect(&server, &QHttpServer::newWebSocketConnection, &server, [&] {
        while (auto socket = server.nextPendingWebSocketConnection()) {
            if (auto taken = WebSocketHandOver::take(*gate, std::move(socket)))
                kept.push_back(std::move(taken));
        }
    });
    Peer own = LoopbackServer::connect(port);
    ASSERT_TRUE(own.send(upgrade(host(), "http://" + host())));
    EXPECT_NE(own.receive(5000, 1 << 16, "\r\n\r\n").find("HTTP/1.1 101 "), std::string::npos);
    ASSERT_TRUE(testing::spinUntil([&] { return kept.size() == 1; }));
    // Past the idle time, the WebSocket is still open.
    const auto [after, closed] = untilClosed(own, 600);
    EXPECT_FALSE(closed);

    // Qt HttpServer upgrades after any answer of the route; one that came another way than
    // through the gate is closed with 1008 before anything else reaches it.
    QHttpServer bare;
    bare.route("/api/events",
               [] { return QHttpServerResponse(QHttpServerResponder::StatusCode::Forbidden); });
    QObject::connect(&bare, &QHttpServer::newWebSocketConnection, &bare, [&] {
        while (auto socket = bare.nextPendingWebSocketConnection())
            EXPECT_EQ(WebSocketHandOver::take(*gate, std::move(socket)), nullptr);
    });
    const quint16 barePort = bare.listen(QHostAddress::LocalHost);
    Peer other = LoopbackServer::connect(barePort);
    const std::string bareHost = "127.0.0.1:" + std::to_string(barePort);
    ASSERT_TRUE(other.send(upgrade(bareHost, "http://" + bareHost)));
    const auto [got, ended] = untilClosed(other);
    EXPECT_EQ(got.substr(0, 13), "HTTP/1.1 403 ");
    const auto switched = got.find("HTTP/1.1 101 ");
    ASSERT_NE(switched, std::string::npos) << got;
    const auto frame = got.find("\r\n\r\n", switched) + 4;
    ASSERT_GE(got.size(), frame + 4);
    EXPECT_EQ(std::uint8_t(got[frame]), 0x88); // close
    EXPECT_EQ(std::uint8_t(got[frame + 2]), 0x03);
    EXPECT_EQ(std::uint8_t(got[frame + 3]), 0xF0); // 1008
    EXPECT_TRUE(ended);
}

} // namespace
} // namespace trv::http
