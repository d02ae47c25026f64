#include "pjlink/PjlinkServer.h"
#include "pjlink/PjlinkConnection.h"
#include "pjlink/ProjectorService.h"

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

namespace trv::pjlink {
namespace {

// Answers "?" with "1" and a set with its parameter (so replies show which request they
// answer); holds the commands in `slow` until released.
class FakeService : public ProjectorService {
public:
    void request(const std::string& command, const std::string& parameter, Reply reply) override {
        asked.push_back(command + ' ' + parameter);
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
    std::deque<std::pair<std::string, Reply>> held;
};

// A PJLink client on a raw socket, on the test's own event loop.
class Client {
public:
    explicit Client(quint16 port, const QHostAddress& host = QHostAddress::LocalHost) {
        socket_.connectToHost(host, port);
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
        server = std::make_unique<PjlinkServer>(
            fake, options, [this](const QString& line) { log.push_back(line.toStdString()); });
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
    client.send("%1POWR 1\r%1INPT ?\r%2SNUM ?\r%1NAME ?\r");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.asked.empty(); }, 5000));
    QTest::qWait(50);
    // Only one request at a time goes to the projector; the answer known here waits too.
    EXPECT_EQ(fake.asked, std::vector<std::string>{"POWR 1"});
    EXPECT_EQ(client.line(0), "(none)");
    QTimer::singleShot(20, server.get(), [this] { fake.releaseAll(); });
    EXPECT_EQ(client.line(), "%1POWR=1");
    EXPECT_EQ(client.line(), "%1INPT=1");
    EXPECT_EQ(client.line(), "%2SNUM=ERR1");
    EXPECT_EQ(client.line(), "%1NAME=1");
}

struct RefusalRow {
    const char* name;
    std::string sent;
    std::string reply; // empty: none
};

TEST_F(PjlinkServerTest, BadLinesAreAnsweredHereOrIgnoredAndTheNextRequestServed) {
    const RefusalRow rows[] = {
        {"class 2", "%2POWR ?\r", "%2POWR=ERR1"},
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

TEST_F(PjlinkServerTest, ClientBeyondTheLimitIsClosedAtOnceWhileTheOthersAreServed) {
    start();
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 64; ++i) {
        clients.push_back(std::make_unique<Client>(server->port()));
        ASSERT_EQ(clients.back()->line(), "PJLINK 0");
    }
    Client extra(server->port());
    EXPECT_TRUE(extra.closed());
    EXPECT_EQ(extra.received(), "");
    EXPECT_TRUE(logged("refused, 64 clients"));
    for (auto& client : clients)
        client->send("%1POWR ?\r");
    for (auto& client : clients)
        EXPECT_EQ(client->line(), "%1POWR=1");
    // A place that comes free is taken by the next client.
    clients.front()->socket().disconnectFromHost();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->connectionCount() == 63; }, 5000));
    Client next(server->port());
    EXPECT_EQ(next.line(), "PJLINK 0");
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
} // namespace trv::pjlink
