#include "bridge/pjlink/PjlinkServer.h"
#include "bridge/pjlink/PjlinkConnection.h"
#include "bridge/pjlink/PjlinkDevice.h"
#include "listen/ListenGuard.h"
#include "support/Fakes.h"
#include "support/LoopbackServer.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace trv::bridge::pjlink {
namespace {

// Answers "?" with "1" and a set with its parameter (so replies show which request they
// answer); holds the commands in `slow` until released.
class FakeService : public PjlinkDevice {
public:
    void request(char classDigit, const std::string& command, const std::string& parameter,
                 const service::Sender&, Reply reply) override {
        asked.push_back(command + ' ' + parameter);
        classes.push_back(classDigit);
        if (slow.count(command)) {
            held.push_back({value(command, parameter), std::move(reply)});
            return;
        }
        reply(value(command, parameter));
    }
    // Answers what is held, oldest first, and everything at once from now on.
    void releaseAll() {
        slow.clear();
        std::deque<std::pair<std::string, Reply>> replies;
        replies.swap(held);
        for (auto& [value, reply] : replies)
            reply(value);
    }
    static std::string value(const std::string& command, const std::string& parameter) {
        if (command == "BIGG")
            return std::string(8192, 'B');
        return parameter == "?" ? "1" : parameter;
    }

    std::set<std::string> slow;
    std::vector<std::string> asked;
    std::string classes; // of the requests asked, in order
    std::deque<std::pair<std::string, Reply>> held;
};

// A PJLink client on a raw socket, on the test's own event loop.
class Client {
public:
    // From 127.0.0.`from` when given (Linux routes all of 127/8 to the loopback).
    explicit Client(quint16 port, const QHostAddress& host = QHostAddress::LocalHost,
                    int from = 0) {
        if (from != 0)
            socket_.bind(QHostAddress(quint32(0x7f000000 + from)));
        socket_.connectToHost(host, port);
    }
    static std::unique_ptr<Client> from(quint16 port, int host) {
        return std::make_unique<Client>(port, QHostAddress::LocalHost, host);
    }
    void send(const std::string& bytes) { socket_.write(bytes.data(), qint64(bytes.size())); }
    // The next line from the server without its CR, or "(none)" if none comes within `ms`.
    std::string line(int ms = 5000) {
        const bool whole = QTest::qWaitFor(
            [this] {
                collect();
                return pending_.find('\r') != std::string::npos;
            },
            ms);
        if (!whole)
            return "(none)";
        const std::size_t end = pending_.find('\r');
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
    }
    // The greeting, or "(none)" when the server closes the connection without one.
    std::string greeting() {
        (void)QTest::qWaitFor(
            [this] {
                collect();
                return pending_.find('\r') != std::string::npos ||
                       socket_.state() == QAbstractSocket::UnconnectedState;
            },
            5000);
        return pending_.find('\r') == std::string::npos ? "(none)" : line(0);
    }
    // True once the server has closed the connection.
    bool closed(int ms = 5000) {
        return QTest::qWaitFor(
            [this] {
                collect();
                return socket_.state() == QAbstractSocket::UnconnectedState;
            },
            ms);
    }
    const std::string& received() const { return received_; }
    QTcpSocket& socket() { return socket_; }

private:
    void collect() {
        const QByteArray bytes = socket_.readAll();
        received_.append(bytes.constData(), std::size_t(bytes.size()));
        pending_.append(bytes.constData(), std::size_t(bytes.size()));
    }

    QTcpSocket socket_;
    std::string received_;
    std::string pending_;
};

class PjlinkServerTest : public ::testing::Test {
protected:
    void start(PjlinkServer::Options options = {},
               const QHostAddress& address = QHostAddress::LocalHost) {
        server = std::make_unique<PjlinkServer>(fake, guard, options);
        QString error;
        listening = server->listen(address, 0, error);
        ASSERT_TRUE(listening) << error.toStdString();
    }
    bool logged(const std::string& words) const {
        for (const std::string& line : log)
            if (line.find(words) != std::string::npos)
                return true;
        return false;
    }

    FakeService fake;
    std::vector<std::string> log;
    testing::ManualClock clock;
    listen::ListenGuard guard{clock,
                              [this](const QString& line) { log.push_back(line.toStdString()); }};
    std::unique_ptr<PjlinkServer> server;
    bool listening = false;
};

TEST_F(PjlinkServerTest, WithoutPasswordAnswersEachRequestInOrderOnIpv4AndIpv6) {
    for (const QHostAddress& address :
         {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        QTcpServer probe; // a machine without IPv6 tests IPv4 alone
        if (!probe.listen(address))
            continue;
        probe.close();
        fake.asked.clear();
        start({}, address);
        Client client(server->port(), address);
        EXPECT_EQ(client.line(), "PJLINK 0");
        client.send("%1POWR ?\r%1inpt 31\r\n%1NAME ?\n");
        EXPECT_EQ(client.line(), "%1POWR=1");
        EXPECT_EQ(client.line(), "%1INPT=31");
        EXPECT_EQ(client.line(), "%1NAME=1");
        EXPECT_EQ(fake.asked, (std::vector<std::string>{"POWR ?", "INPT 31", "NAME ?"}));
        EXPECT_EQ(client.received().find('\n'), std::string::npos);
    }
}

enum class Digest { None, Right, Wrong };
struct Step {
    Digest digest;
    std::string request;
    std::string reply;
};
struct AuthRow {
    const char* name;
    std::vector<Step> steps;
    bool closed;
    std::vector<std::string> asked;
};

TEST_F(PjlinkServerTest, AuthenticatesByTheDigestOfRandomAndPassword) {
    const AuthRow rows[] = {
        {"right digest, then none, then right again",
         {{Digest::Right, "%1POWR ?", "%1POWR=1"},
          {Digest::None, "%1INPT ?", "%1INPT=1"},
          {Digest::Right, "%1NAME ?", "%1NAME=1"}},
         false,
         {"POWR ?", "INPT ?", "NAME ?"}},
        {"missing digest", {{Digest::None, "%1POWR ?", "PJLINK ERRA"}}, true, {}},
        {"wrong digest", {{Digest::Wrong, "%1POWR 1", "PJLINK ERRA"}}, true, {}},
        {"wrong digest later",
         {{Digest::Right, "%1POWR ?", "%1POWR=1"}, {Digest::Wrong, "%1POWR 1", "PJLINK ERRA"}},
         true,
         {"POWR ?"}},
        {"garbage first", {{Digest::None, "hello", "PJLINK ERRA"}}, true, {}},
    };
    PjlinkServer::Options options;
    options.password = QStringLiteral("secret");
    start(options);
    for (const AuthRow& row : rows) {
        SCOPED_TRACE(row.name);
        fake.asked.clear();
        Client client(server->port());
        const std::string greeting = client.line();
        ASSERT_TRUE(QRegularExpression(QStringLiteral("^PJLINK 1 [0-9a-f]{8}$"))
                        .match(QString::fromStdString(greeting))
                        .hasMatch())
            << greeting;
        const QByteArray random = QByteArray::fromStdString(greeting.substr(9));
        const auto digest = [&](const char* password) {
            return QCryptographicHash::hash(random + password, QCryptographicHash::Md5)
                .toHex()
                .toStdString();
        };
        for (const Step& step : row.steps) {
            const std::string prefix = step.digest == Digest::Right   ? digest("secret")
                                       : step.digest == Digest::Wrong ? digest("guess")
                                                                      : "";
            client.send(prefix + step.request + '\r');
            EXPECT_EQ(client.line(), step.reply);
        }
        EXPECT_EQ(client.closed(row.closed ? 5000 : 0), row.closed);
        EXPECT_EQ(fake.asked, row.asked);
    }
}

TEST_F(PjlinkServerTest, RequestsSentAheadWaitTheirTurnAndComeBackInOrder) {
    start();
    fake.slow = {"POWR"};
    Client client(server->port());
    EXPECT_EQ(client.line(), "PJLINK 0");
    client.send("%1POWR 1\r%2INPT ?\r%3SNUM ?\r%1NAME ?\r");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.asked.empty(); }, 5000));
    QTest::qWait(50);
    // Only one request at a time goes to the projector; the answer known here waits too.
    EXPECT_EQ(fake.asked, std::vector<std::string>{"POWR 1"});
    EXPECT_EQ(client.line(0), "(none)");
    QTimer::singleShot(20, server.get(), [this] { fake.releaseAll(); });
    EXPECT_EQ(client.line(), "%1POWR=1");
    EXPECT_EQ(client.line(), "%2INPT=1");
    EXPECT_EQ(client.line(), "%3SNUM=ERR1");
    EXPECT_EQ(client.line(), "%1NAME=1");
    EXPECT_EQ(fake.classes, "121"); // each request reaches the projector with its class
}

struct RefusalRow {
    const char* name;
    std::string sent;
    std::string reply; // empty: none
};

TEST_F(PjlinkServerTest, BadLinesAreAnsweredHereOrIgnoredAndTheNextRequestServed) {
    const RefusalRow rows[] = {
        {"class 3", "%3POWR ?\r", "%3POWR=ERR1"},
        {"over-long", "%1NAME " + std::string(300, 'x') + "\r", "%1NAME=ERR2"},
        {"no blank", "%1POWR\r", "%1POWR=ERR2"},
        {"long garbage", std::string(20000, '\x01') + "\r", ""},
        {"binary", std::string("\xff\xfe\x00\x25\x80\r", 6), ""},
    };
    start();
    for (const RefusalRow& row : rows) {
        SCOPED_TRACE(row.name);
        fake.asked.clear();
        Client client(server->port());
        EXPECT_EQ(client.line(), "PJLINK 0");
        client.send(row.sent + "%1CLSS ?\r");
        if (!row.reply.empty()) {
            EXPECT_EQ(client.line(), row.reply);
        }
        EXPECT_EQ(client.line(), "%1CLSS=1");
        EXPECT_EQ(fake.asked, std::vector<std::string>{"CLSS ?"});
    }
}

TEST_F(PjlinkServerTest, AnAnswerTooLateIsErr3AndTheLateOneDropped) {
    PjlinkServer::Options options;
    options.replyLimitMs = 200;
    start(options);
    fake.slow = {"POWR"};
    Client client(server->port());
    EXPECT_EQ(client.line(), "PJLINK 0");
    client.send("%1POWR 1\r");
    EXPECT_EQ(client.line(), "%1POWR=ERR3");
    fake.releaseAll();
    client.send("%1CLSS ?\r");
    EXPECT_EQ(client.line(), "%1CLSS=1");
}

TEST_F(PjlinkServerTest, OneAddressHoldsItsShareAndAFullServerMakesRoomFromTheGreediest) {
    PjlinkServer::Options options;
    options.maxClients = 6;
    options.maxPerAddress = 3;
    start(options);
    // From 127.0.0.2 three, then one too many; two from .3 and one from .4 fill the server.
    std::vector<std::unique_ptr<Client>> clients;
    const auto join = [&](int host) {
        return clients.emplace_back(Client::from(server->port(), host))->greeting();
    };
    for (int host : {2, 2, 2})
        ASSERT_EQ(join(host), "PJLINK 0");
    EXPECT_EQ(join(2), "(none)");
    EXPECT_TRUE(clients.back()->closed());
    EXPECT_TRUE(logged("refused, 3 clients from 127.0.0.2 connected already"));
    clients.pop_back();
    for (int host : {3, 3, 4})
        ASSERT_EQ(join(host), "PJLINK 0");
    ASSERT_EQ(server->connectionCount(), 6);

    // The first from .2 is busy; the second is the idlest of the address holding the most.
    clock.advance(100);
    clients[0]->send("%1POWR ?\r");
    ASSERT_EQ(clients[0]->line(), "%1POWR=1");
    EXPECT_EQ(join(5), "PJLINK 0");
    EXPECT_TRUE(clients[1]->closed());
    EXPECT_TRUE(logged("closed: making room for a newcomer"));
    // Now .2 and .3 hold two each: the idlest of both goes, the third from .2.
    EXPECT_EQ(join(6), "PJLINK 0");
    EXPECT_TRUE(clients[2]->closed());
    for (std::size_t i : {0, 3, 4, 5, 6, 7}) {
        clients[i]->send("%1CLSS ?\r");
        EXPECT_EQ(clients[i]->line(), "%1CLSS=1") << i;
    }
    EXPECT_EQ(server->connectionCount(), 6);
}

TEST_F(PjlinkServerTest, FailedLoginsSlowTheirAddressAloneAndASuccessEndsIt) {
    PjlinkServer::Options options;
    options.password = QStringLiteral("secret");
    start(options);
    // Logs in from 127.0.0.`host`: the reply to a request with the digest of `password`, or
    // "(none)" when the connection ends before the greeting.
    std::vector<std::unique_ptr<Client>> open;
    const auto login = [&](int host, const char* password, bool stay = false) -> std::string {
        std::unique_ptr<Client> client = Client::from(server->port(), host);
        const std::string greeting = client->greeting();
        if (greeting.rfind("PJLINK 1 ", 0) != 0)
            return greeting;
        if (stay) {
            open.push_back(std::move(client));
            return "(open)";
        }
        const QByteArray random = QByteArray::fromStdString(greeting.substr(9));
        client->send(QCryptographicHash::hash(random + password, QCryptographicHash::Md5)
                         .toHex()
                         .toStdString() +
                     "%1CLSS ?\r");
        return client->line();
    };
    const struct {
        std::int64_t advanceMs;
        int host;
        const char* password;
        const char* reply;
    } rows[] = {
        {0, 7, "guess1", "PJLINK ERRA"}, {0, 7, "guess2", "PJLINK ERRA"},
        {0, 7, "guess3", "PJLINK ERRA"}, {0, 7, "secret", "(none)"}, // waits 1 s
        {0, 8, "secret", "%1CLSS=1"},    {999, 7, "secret", "(none)"},
        {1, 7, "guess4", "PJLINK ERRA"}, {1999, 7, "secret", "(none)"},   // 2 s now
        {1, 7, "secret", "%1CLSS=1"},    {0, 7, "guess5", "PJLINK ERRA"}, // afresh
        {0, 7, "guess6", "PJLINK ERRA"}, {0, 7, "secret", "%1CLSS=1"},
    };
    for (const auto& row : rows) {
        clock.advance(row.advanceMs);
        EXPECT_EQ(login(row.host, row.password), row.reply)
            << "127.0.0." << row.host << " at " << clock.now() << " ms with " << row.password;
    }
    EXPECT_TRUE(logged("refused, too many failed logins from 127.0.0.7"));

    // A connection opened before the wait began gets no digest looked at during it.
    ASSERT_EQ(login(9, "", true), "(open)");
    const std::string greeting = open.back()->received().substr(9, 8);
    for (const char* guess : {"guess1", "guess2", "guess3"})
        EXPECT_EQ(login(9, guess), "PJLINK ERRA");
    open.back()->send(QCryptographicHash::hash(QByteArray::fromStdString(greeting) + "secret",
                                               QCryptographicHash::Md5)
                          .toHex()
                          .toStdString() +
                      "%1CLSS ?\r");
    EXPECT_EQ(open.back()->line(), "PJLINK ERRA");
}

TEST_F(PjlinkServerTest, RepeatedEventsOfOneAddressAreCountedInOneLineAMinute) {
    PjlinkServer::Options options;
    options.password = QStringLiteral("secret");
    start(options);
    // Ten wrong digests from 127.0.0.1 (the last seven refused at once), one visit from .2.
    for (int i = 0; i < 10; ++i) {
        Client client(server->port());
        if (client.greeting() != "(none)")
            client.send("00000000000000000000000000000000%1CLSS ?\r");
        EXPECT_TRUE(client.closed());
    }
    std::unique_ptr<Client> other = Client::from(server->port(), 2);
    EXPECT_NE(other->greeting(), "(none)");
    // Ports and client numbers left out.
    const auto plain = [&] {
        std::vector<std::string> lines;
        for (const std::string& line : log)
            lines.push_back(
                QString::fromStdString(line)
                    .replace(QRegularExpression(QStringLiteral("client \\d+ \\((.*):\\d+\\)")),
                             QStringLiteral("client (\\1)"))
                    .toStdString());
        return lines;
    };
    // The first of each kind at once; the rest of the minute counted.
    EXPECT_EQ(plain(), (std::vector<std::string>{
                           "client (127.0.0.1): connected",
                           "client (127.0.0.1): closed: authentication failed",
                           "client (127.0.0.1): refused, too many failed logins from 127.0.0.1 "
                           "(1 s more)",
                           "client (127.0.0.2): connected",
                       }));
    log.clear();
    clock.advance(listen::LogSummary::kWindowMs);
    EXPECT_EQ(plain(), (std::vector<std::string>{
                           "127.0.0.1: 2 more in the last minute like: client (127.0.0.1): "
                           "closed: authentication failed",
                           "127.0.0.1: 2 more in the last minute like: client (127.0.0.1): "
                           "connected",
                           "127.0.0.1: 6 more in the last minute like: client (127.0.0.1): "
                           "refused, too many failed logins from 127.0.0.1 (1 s more)",
                       }));
    // A quiet minute, and the next event is written at once again.
    log.clear();
    clock.advance(2 * listen::LogSummary::kWindowMs);
    EXPECT_EQ(plain(), std::vector<std::string>{});
    Client again(server->port());
    EXPECT_NE(again.greeting(), "(none)");
    EXPECT_EQ(plain(), std::vector<std::string>{"client (127.0.0.1): connected"});
}

using testing::LoopbackServer;

TEST_F(PjlinkServerTest, ClientsThatResetGiveTheirPlaceBack) {
    start();
    // Resets before the server has seen the connection, mixed with short ordinary visits,
    // far more of them than there are places, from many addresses.
    int greeted = 0;
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 6; ++i)
            LoopbackServer::connect(server->port(), 2 + (round * 6 + i) % 40).resetNow();
        LoopbackServer::Peer visitor = LoopbackServer::connect(server->port(), 50 + round);
        greeted += visitor.receive(5000, 64, "\r") == "PJLINK 0\r";
        visitor.closeNow();
    }
    EXPECT_EQ(greeted, 20);
    // Every place is free again, and no socket is left behind a freed one.
    EXPECT_TRUE(QTest::qWaitFor([&] { return server->connectionCount() == 0; }, 5000))
        << server->connectionCount() << " places still taken";
    Client late(server->port());
    EXPECT_EQ(late.line(), "PJLINK 0");
    late.send("%1POWR ?\r");
    EXPECT_EQ(late.line(), "%1POWR=1");
    EXPECT_EQ(server->findChildren<QTcpSocket*>().size(), 1);
}

// Qt's own warnings while it lives.
class QtMessages {
public:
    QtMessages() {
        messages_ = &texts;
        previous_ =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
                messages_->push_back(text.toStdString());
            });
    }
    ~QtMessages() {
        qInstallMessageHandler(previous_);
        messages_ = nullptr;
    }
    std::vector<std::string> texts;

private:
    static inline std::vector<std::string>* messages_ = nullptr;
    QtMessageHandler previous_;
};

TEST_F(PjlinkServerTest, ClientLeavingWithRepliesUnreadEndsWithoutAWarning) {
    const struct {
        const char* name;
        bool reset;
    } rows[] = {{"closed", false}, {"reset", true}};
    start();
    QtMessages messages;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fake.asked.clear();
        fake.slow = {"POWR"};
        LoopbackServer::Peer client = LoopbackServer::connect(server->port(), 3);
        ASSERT_EQ(client.receive(5000, 64, "\r"), "PJLINK 0\r");
        std::string requests;
        for (int i = 0; i < 8; ++i)
            requests += "%1POWR ?\r%1CLSS ?\r";
        client.send(requests);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.asked.empty(); }, 5000));
        // The client goes while its first answer is on its way and the next ones are ready.
        row.reset ? client.resetNow() : client.closeNow();
        fake.releaseAll();
        EXPECT_TRUE(QTest::qWaitFor([&] { return server->connectionCount() == 0; }, 5000));
    }
    QTest::qWait(50);
    EXPECT_EQ(messages.texts, std::vector<std::string>{});
}

TEST_F(PjlinkServerTest, SilentClientIsClosedWhenIdle) {
    PjlinkServer::Options options;
    options.idleMs = 300;
    start(options);
    QElapsedTimer clock;
    clock.start();
    Client client(server->port());
    EXPECT_EQ(client.line(), "PJLINK 0");
    EXPECT_TRUE(client.closed());
    // Coarse timers may fire up to 5 % early.
    EXPECT_GE(clock.elapsed(), 270);
    EXPECT_TRUE(logged("no request for 300 ms"));
}

TEST_F(PjlinkServerTest, FloodIsHeldBackInTheSocketNotQueuedAndOthersAreServed) {
    start();
    fake.slow = {"LAMP"};
    Client flood(server->port());
    EXPECT_EQ(flood.line(), "PJLINK 0");
    std::string requests;
    for (int i = 0; i < 2000; ++i)
        requests += "%1LAMP ?\r";
    flood.send(requests);
    ASSERT_EQ(server->connections().size(), 1);
    PjlinkConnection& connection = *server->connections().front();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return connection.waiting() == PjlinkConnection::kMaxWaiting; }, 5000));

    Client other(server->port());
    EXPECT_EQ(other.line(), "PJLINK 0");
    other.send("%1POWR ?\r");
    EXPECT_EQ(other.line(), "%1POWR=1");
    EXPECT_EQ(connection.waiting(), PjlinkConnection::kMaxWaiting);
    EXPECT_EQ(fake.asked.front(), "LAMP ?");
    EXPECT_EQ(fake.asked.size(), 2u); // the flood's first and the other client's

    // Nothing was lost by holding back: every request is answered once the projector is.
    fake.releaseAll();
    int answered = 0;
    while (answered < 2000 && flood.line() == "%1LAMP=1")
        ++answered;
    EXPECT_EQ(answered, 2000);
}

TEST_F(PjlinkServerTest, ClientNotTakingItsRepliesIsCutOffAndOthersAreServed) {
    start();
    Client other(server->port());
    EXPECT_EQ(other.line(), "PJLINK 0");
    Client flood(server->port());
    EXPECT_EQ(flood.line(), "PJLINK 0");
    flood.socket().setReadBufferSize(1);
    std::string requests;
    for (int i = 0; i < 3000; ++i)
        requests += "%1BIGG ?\r";
    flood.send(requests);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server->connectionCount() == 1; }, 30000));
    EXPECT_TRUE(logged("not taking its replies"));
    other.send("%1POWR ?\r");
    EXPECT_EQ(other.line(), "%1POWR=1");
}

TEST_F(PjlinkServerTest, CloseAllEndsEveryConnectionAndThePort) {
    start();
    Client first(server->port());
    Client second(server->port());
    EXPECT_EQ(first.line(), "PJLINK 0");
    EXPECT_EQ(second.line(), "PJLINK 0");
    QSignalSpy closed(server.get(), &PjlinkServer::closed);
    const quint16 port = server->port();
    server->closeAll();
    EXPECT_TRUE(first.closed());
    EXPECT_TRUE(second.closed());
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed.count() == 1; }, 5000));
    EXPECT_EQ(server->connectionCount(), 0);
    Client late(port);
    EXPECT_TRUE(late.closed());
    EXPECT_EQ(late.received(), "");
}

} // namespace
} // namespace trv::bridge::pjlink
