// trv-bridge as a control system meets it: the daemon against trv-sim on a pseudo-terminal,
// and a PJLink client written here on a plain socket.
#include "support/LoopbackServer.h"
#include "support/Ser2net.h"
#include "support/TestCertificates.h"
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QWebSocket>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <termios.h>
#include <unistd.h>

namespace trv {
namespace {

class Bridge : public ::testing::Test {
protected:
    void TearDown() override {
        for (QProcess* process : {&daemon_, &sim_}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                process->waitForFinished(5000);
            }
        }
    }
    QString link() const { return dir_.path() + QStringLiteral("/projector"); }
    bool startSim(const QStringList& options = {}) {
        sim_.start(QStringLiteral(TRV_SIM_PATH),
                   QStringList{"--link", link(), "--warmup", "2", "--cooldown", "2"} + options);
        return sim_.waitForStarted(5000) &&
               QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000) &&
               !sim_.readLine().isEmpty();
    }
    // The daemon on the simulator's line; false when it did not say where PJLink clients go.
    bool startDaemon(const QStringList& extra = {}, const QString& line = {},
                     const QString& listen = QStringLiteral("127.0.0.1:0")) {
        daemon_.setProcessChannelMode(QProcess::SeparateChannels);
        // UDP on a free port of its own unless a test says otherwise.
        const QStringList udpOption = extra.contains(QStringLiteral("--udp-port"))
                                          ? QStringList{}
                                          : QStringList{"--udp-port", "0"};
        daemon_.start(QStringLiteral(TRV_BRIDGE_PATH),
                      QStringList{"--port", line.isEmpty() ? link() : line, "--pjlink-listen",
                                  listen, "--cache-ms", "0"} +
                          udpOption + extra);
        // Generous: under the sanitizers on a busy machine the daemon starts slowly.
        if (!daemon_.waitForStarted(15000) ||
            !QTest::qWaitFor([&] { return daemon_.canReadLine(); }, 15000))
            return false;
        // "pjlink HOST:PORT", an IPv6 host in brackets.
        frontEnd_ = QString::fromLatin1(daemon_.readLine());
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^pjlink (\\[[0-9a-f:.]+\\]|[0-9.]+):([0-9]+)\n$"))
                .match(frontEnd_);
        host_ = QHostAddress(match.captured(1).remove(u'[').remove(u']'));
        port_ = quint16(match.captured(2).toUInt());
        if (!match.hasMatch() || port_ == 0)
            return false;
        // Then "pjlink-udp HOST:PORT" on the same address, unless UDP is off.
        if (extra.contains(QStringLiteral("--udp")) &&
            extra.value(extra.indexOf(QStringLiteral("--udp")) + 1) == QStringLiteral("off"))
            return true;
        if (!QTest::qWaitFor([&] { return daemon_.canReadLine(); }, 15000))
            return false;
        udpLine_ = QString::fromLatin1(daemon_.readLine());
        const QRegularExpressionMatch udp =
            QRegularExpression(
                QStringLiteral("^pjlink-udp (\\[[0-9a-f:.]+\\]|[0-9.]+):([0-9]+)\n$"))
                .match(udpLine_);
        udpPort_ = quint16(udp.captured(2).toUInt());
        return udp.hasMatch() && udp.captured(1) == match.captured(1) && udpPort_ != 0;
    }
    // Connects and returns the greeting.
    QByteArray connectClient(QTcpSocket& socket) {
        socket.connectToHost(host_, port_);
        if (!socket.waitForConnected(5000))
            return "(no connection)";
        return line(socket);
    }
    static QByteArray line(QTcpSocket& socket, int ms = 5000) {
        (void)QTest::qWaitFor([&] { return socket.bytesAvailable() > 0; }, ms);
        // Replies end with CR alone.
        QByteArray got;
        while (socket.bytesAvailable() > 0 && !got.endsWith('\r')) {
            char c;
            socket.getChar(&c);
            got += c;
            if (!got.endsWith('\r') && socket.bytesAvailable() == 0)
                socket.waitForReadyRead(ms);
        }
        return got;
    }
    QByteArray ask(QTcpSocket& socket, const QByteArray& request) {
        socket.write(request + '\r');
        socket.flush();
        return line(socket);
    }

    QTemporaryDir dir_;
    QProcess sim_, daemon_;
    QString frontEnd_; // the daemon's first line
    QHostAddress host_;
    quint16 port_ = 0;
    QString udpLine_; // its second
    quint16 udpPort_ = 0;
};

#define START(...)                                                                                 \
    if (!startSim() || !startDaemon(__VA_ARGS__))                                                  \
    GTEST_SKIP() << "pseudo-terminals, the simulator or the daemon are unavailable here"

TEST_F(Bridge, EveryClassOneCommandThroughAPowerCycle) {
    START();
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    const struct {
        const char* request;
        const char* reply;
    } standby[] = {
        {"%1CLSS ?", "%1CLSS=2\r"},           {"%1INF1 ?", "%1INF1=ZEKO\r"},
        {"%1INF2 ?", "%1INF2=TRV-M5400\r"},   {"%1NAME ?", "%1NAME=TRV-M5400\r"},
        {"%1INST ?", "%1INST=11 12 31 51\r"}, {"%1POWR ?", "%1POWR=0\r"},
        {"%1ERST ?", "%1ERST=000000\r"},      {"%1LAMP ?", "%1LAMP=1234 0\r"},
        {"%1INPT 31", "%1INPT=ERR3\r"},       {"%1AVMT 31", "%1AVMT=ERR3\r"},
        {"%1AVMT 21", "%1AVMT=ERR2\r"},       {"%1INPT 21", "%1INPT=ERR2\r"},
        {"%1POWR 7", "%1POWR=ERR2\r"},        {"%1ABCD ?", "%1ABCD=ERR1\r"},
        {"%2POWR ?", "%2POWR=ERR1\r"},        {"%1POWR 1", "%1POWR=OK\r"},
        {"%1POWR ?", "%1POWR=3\r"},
    };
    for (const auto& row : standby)
        EXPECT_EQ(ask(client, row.request), row.reply) << row.request;
    ASSERT_TRUE(QTest::qWaitFor([&] { return ask(client, "%1POWR ?") == "%1POWR=1\r"; }, 5000));
    const struct {
        const char* request;
        const char* reply;
    } on[] = {
        {"%1INPT 31", "%1INPT=OK\r"}, {"%1INPT ?", "%1INPT=31\r"},     {"%1AVMT 31", "%1AVMT=OK\r"},
        {"%1AVMT ?", "%1AVMT=31\r"},  {"%1AVMT 10", "%1AVMT=OK\r"},    {"%1AVMT ?", "%1AVMT=30\r"},
        {"%1AVMT 11", "%1AVMT=OK\r"}, {"%1LAMP ?", "%1LAMP=1234 1\r"}, {"%1POWR 0", "%1POWR=OK\r"},
        {"%1POWR ?", "%1POWR=2\r"},   {"%1POWR 1", "%1POWR=ERR3\r"},   {"%1AVMT ?", "%1AVMT=30\r"},
        {"%1CLSS ?", "%1CLSS=2\r"},
    };
    for (const auto& row : on)
        EXPECT_EQ(ask(client, row.request), row.reply) << row.request;
}

TEST_F(Bridge, RequestsSentAheadAreAnsweredInOrder) {
    START();
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    client.write("%1POWR ?\r%1CLSS ?\r%1LAMP ?\r%1INF1 ?\r");
    client.flush();
    EXPECT_EQ(line(client), "%1POWR=0\r");
    EXPECT_EQ(line(client), "%1CLSS=2\r");
    EXPECT_EQ(line(client), "%1LAMP=1234 0\r");
    EXPECT_EQ(line(client), "%1INF1=ZEKO\r");
}

// A Class 2 client: its own commands, freeze through a power-on, and the settings behind SNUM
// and INNM from the file and the command line, the file reread on SIGHUP.
TEST_F(Bridge, ClassTwoClientFreezesNamesInputsAndIsToldWhatIsNotThere) {
    QFile config(dir_.path() + QStringLiteral("/room12.conf"));
    const auto write = [&](const QByteArray& text) {
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(text);
        config.close();
    };
    write("serial=SN-0012\n");
    START({"--config", config.fileName(), "--input-names", "3=Lectern PC"});
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    const struct {
        const char* request;
        const char* reply;
    } standby[] = {
        {"%1CLSS ?", "%1CLSS=2\r"},
        {"%2SNUM ?", "%2SNUM=SN-0012\r"},
        {"%2SVER ?", "%2SVER=\r"},
        {"%2INNM ?31", "%2INNM=Lectern PC\r"},
        {"%2INNM ?12", "%2INNM=INPUT 2\r"},
        {"%2INNM ?52", "%2INNM=ERR2\r"},
        {"%2INST ?", "%2INST=11 12 31 51\r"},
        {"%2FREZ 1", "%2FREZ=ERR3\r"},
        {"%2FREZ ?", "%2FREZ=0\r"},
        {"%2IRES ?", "%2IRES=ERR1\r"},
        {"%2POWR ?", "%2POWR=ERR1\r"},
        {"%1POWR 1", "%1POWR=OK\r"},
    };
    for (const auto& row : standby)
        EXPECT_EQ(ask(client, row.request), row.reply) << row.request;
    ASSERT_TRUE(QTest::qWaitFor([&] { return ask(client, "%1POWR ?") == "%1POWR=1\r"; }, 5000));
    const struct {
        const char* request;
        const char* reply;
    } on[] = {
        {"%2FREZ 1", "%2FREZ=OK\r"}, {"%2FREZ ?", "%2FREZ=1\r"},   {"%2FREZ 0", "%2FREZ=OK\r"},
        {"%2FREZ ?", "%2FREZ=0\r"},  {"%2INPT 12", "%2INPT=OK\r"}, {"%2INPT ?", "%2INPT=12\r"},
        {"%1INPT ?", "%1INPT=12\r"},
    };
    for (const auto& row : on)
        EXPECT_EQ(ask(client, row.request), row.reply) << row.request;
    write("serial=SN-0013\n");
    ::kill(pid_t(daemon_.processId()), SIGHUP);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return daemon_.readAllStandardError().contains("configuration reread"); }, 5000));
    EXPECT_EQ(ask(client, "%2SNUM ?"), "%2SNUM=SN-0013\r");
    EXPECT_EQ(ask(client, "%2INNM ?31"), "%2INNM=Lectern PC\r"); // the command line still wins
}

TEST_F(Bridge, PasswordProtectedDaemonWantsTheDigestInFront) {
    QFile secret(dir_.path() + QStringLiteral("/secret"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("JBMIAProjectorLink\n");
    secret.close();
    secret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    START({"--password-file", secret.fileName()});
    for (const bool right : {true, false}) {
        QTcpSocket client;
        const QByteArray greeting = connectClient(client);
        ASSERT_TRUE(greeting.startsWith("PJLINK 1 ")) << greeting.toStdString();
        const QByteArray random = greeting.mid(9, 8);
        const QByteArray digest =
            QCryptographicHash::hash(random + (right ? "JBMIAProjectorLink" : "wrong"),
                                     QCryptographicHash::Md5)
                .toHex();
        if (right) {
            EXPECT_EQ(ask(client, digest + "%1POWR ?"), "%1POWR=0\r");
            EXPECT_EQ(ask(client, "%1CLSS ?"), "%1CLSS=2\r");
        } else {
            EXPECT_EQ(ask(client, digest + "%1POWR ?"), "PJLINK ERRA\r");
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return client.state() == QAbstractSocket::UnconnectedState; }, 5000));
        }
    }
}

TEST_F(Bridge, LostLineAnswersFailureUntilItIsBack) {
    START();
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    EXPECT_EQ(ask(client, "%1POWR ?"), "%1POWR=0\r");
    sim_.terminate(); // the adapter goes away
    ASSERT_TRUE(sim_.waitForFinished(5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ask(client, "%1POWR ?") == "%1POWR=ERR4\r"; }, 5000));
    EXPECT_EQ(ask(client, "%1INF2 ?"), "%1INF2=TRV-M5400\r");
    ASSERT_TRUE(startSim()); // and comes back on the same path
    EXPECT_TRUE(QTest::qWaitFor([&] { return ask(client, "%1POWR ?") == "%1POWR=0\r"; }, 10000));
    const QString log = QString::fromLatin1(daemon_.readAllStandardError());
    EXPECT_TRUE(log.contains(QLatin1String("line lost"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String("line back"))) << log.toStdString();
}

// What the status read says of faults, and a projector that never answers.
TEST_F(Bridge, FaultsAndSilenceAsPjlinkSaysThem) {
    const struct {
        const char* option;
        const char* value;
        const char* power;
        const char* errors;
    } rows[] = {
        {"--fault", "temp", "%1POWR=1\r", "%1ERST=002000\r"},
        {"--fault", "lamp", "%1POWR=2\r", "%1ERST=020000\r"},
        {"--fault", "power", "%1POWR=ERR4\r", "%1ERST=000002\r"},
        {"--delay", "5000", "%1POWR=ERR4\r", "%1ERST=ERR4\r"}, // later than the reply window
    };
    for (const auto& row : rows) {
        TearDown();
        if (!startSim({row.option, row.value}) || !startDaemon())
            GTEST_SKIP() << "pseudo-terminals, the simulator or the daemon are unavailable here";
        QTcpSocket client;
        ASSERT_EQ(connectClient(client), "PJLINK 0\r");
        EXPECT_EQ(ask(client, "%1POWR ?"), row.power) << row.value;
        EXPECT_EQ(ask(client, "%1ERST ?"), row.errors) << row.value;
        EXPECT_EQ(ask(client, "%1CLSS ?"), "%1CLSS=2\r") << row.value;
    }
}

TEST_F(Bridge, EndsCleanlyOnSigtermAndRefusesUnusableSettings) {
    START();
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    daemon_.terminate();
    ASSERT_TRUE(daemon_.waitForFinished(5000));
    EXPECT_EQ(daemon_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(daemon_.exitCode(), 0);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return client.state() == QAbstractSocket::UnconnectedState; }, 5000));
    for (const QStringList& bad : {QStringList{"--port", link(), "--address", "all"},
                                   QStringList{"--port", "udp://127.0.0.1:4001"},
                                   QStringList{"--port", link(), "--inputs", "1=11,2=11"},
                                   QStringList{"--pjlink-listen", "127.0.0.1:0"}}) {
        QProcess refused;
        refused.start(QStringLiteral(TRV_BRIDGE_PATH), bad);
        ASSERT_TRUE(refused.waitForFinished(5000));
        EXPECT_EQ(refused.exitCode(), 2) << bad.join(u' ').toStdString();
        EXPECT_TRUE(refused.readAllStandardOutput().isEmpty()); // no address: it never listened
    }
}

// One line per front end on standard output as it starts, with the address and port it got.
TEST_F(Bridge, SaysWhereEachFrontEndListens) {
    const struct {
        const char* listen;
        const char* line; // a pattern; nothing when no front end listens
    } rows[] = {
        {"127.0.0.1:0", "^pjlink 127\\.0\\.0\\.1:[1-9][0-9]*\n$"},
        {"[::1]:0", "^pjlink \\[::1\\]:[1-9][0-9]*\n$"},
        {"none", nullptr},
    };
    if (!startSim())
        GTEST_SKIP() << "pseudo-terminals or the simulator are unavailable here";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.listen);
        if (row.line) {
            if (QString::fromLatin1(row.listen).contains(u'[') &&
                !QTcpServer().listen(QHostAddress::LocalHostIPv6))
                continue; // no IPv6 loopback here
            ASSERT_TRUE(startDaemon({}, {}, QString::fromLatin1(row.listen)))
                << frontEnd_.toStdString();
            EXPECT_TRUE(
                QRegularExpression(QString::fromLatin1(row.line)).match(frontEnd_).hasMatch())
                << frontEnd_.toStdString();
            QTcpSocket client;
            EXPECT_EQ(connectClient(client), "PJLINK 0\r");
            EXPECT_EQ(ask(client, "%1POWR ?"), "%1POWR=0\r");
        } else {
            // No front end, and the line is opened all the same.
            daemon_.start(QStringLiteral(TRV_BRIDGE_PATH),
                          QStringList{"--port", link(), "--pjlink-listen", row.listen});
            QByteArray log;
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    log += daemon_.readAllStandardError();
                    return log.contains("line open");
                },
                15000))
                << log.toStdString();
            EXPECT_EQ(daemon_.state(), QProcess::Running);
        }
        daemon_.terminate();
        ASSERT_TRUE(daemon_.waitForFinished(5000));
        EXPECT_EQ(daemon_.exitCode(), 0);
        EXPECT_EQ(daemon_.readAllStandardOutput(), "") << "one line per front end";
    }
}

TEST_F(Bridge, ServesTheWebPanelWhereItsLineAfterPjlinksSays) {
    START({"--http-listen", "127.0.0.1:0"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon_.canReadLine(); }, 15000));
    const QString said = QString::fromLatin1(daemon_.readLine());
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^http http://127\\.0\\.0\\.1:([1-9][0-9]*)/\n$"))
            .match(said);
    ASSERT_TRUE(match.hasMatch()) << said.toStdString();
    const QByteArray authority = "127.0.0.1:" + match.captured(1).toLatin1();
    // On loopback without a password no login is asked for.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(match.captured(1).toUInt()));
    ASSERT_TRUE(client.waitForConnected(5000));
    client.write("GET /api/status?fresh=1 HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
    QByteArray reply;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            client.waitForReadyRead(50);
            reply += client.readAll();
            return reply.contains("\"temperatures\"");
        },
        15000))
        << reply.toStdString();
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK\r\n")) << reply.toStdString();
    EXPECT_TRUE(reply.contains("\"status\":{\"ageMs\":")) << "read afresh: " << reply.toStdString();
    daemon_.terminate();
    ASSERT_TRUE(daemon_.waitForFinished(5000));
    EXPECT_EQ(daemon_.exitCode(), 0);
}

TEST_F(Bridge, AWebHoldLeavesPjlinkServedAndEndsWithItsPage) {
    START({"--http-listen", "127.0.0.1:0"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon_.canReadLine(); }, 15000));
    const QString said = QString::fromLatin1(daemon_.readLine()).trimmed();
    ASSERT_TRUE(said.startsWith(QStringLiteral("http http://"))) << said.toStdString();
    const QUrl base(said.mid(5));
    // The sends of C47 the line has seen, from the bridge's own record.
    const auto holdSends = [&] {
        QTcpSocket http;
        http.connectToHost(QHostAddress::LocalHost, quint16(base.port()));
        if (!http.waitForConnected(5000))
            return -1;
        http.write("GET /api/record?lines=1000 HTTP/1.1\r\nHost: 127.0.0.1:" +
                   QByteArray::number(base.port()) + "\r\nConnection: close\r\n\r\n");
        QByteArray reply;
        const auto whole = [&] {
            const qsizetype end = reply.indexOf("\r\n\r\n");
            const QRegularExpressionMatch length =
                QRegularExpression(QStringLiteral("Content-Length: ([0-9]+)\r\n"),
                                   QRegularExpression::CaseInsensitiveOption)
                    .match(QString::fromLatin1(reply.left(end)));
            return end >= 0 && length.hasMatch() &&
                   reply.size() - end - 4 >= length.captured(1).toLongLong();
        };
        while (!whole() && http.waitForReadyRead(5000))
            reply += http.readAll();
        return whole() ? int(reply.count("\tTX\t C 4 7  [CR] \t")) : -1;
    };
    QWebSocket page;
    page.open(QUrl(said.mid(5).replace(QStringLiteral("http://"), QStringLiteral("ws://")) +
                   QStringLiteral("api/events")));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return page.state() == QAbstractSocket::ConnectedState; }, 10000));
    QTcpSocket pjlink;
    ASSERT_EQ(connectClient(pjlink), "PJLINK 0\r");
    page.sendTextMessage(QStringLiteral(R"({"type":"hold","command":"C47","address":""})"));
    // Held for about 1.5 s, kept alive as a page does; PJLink is answered all the while.
    QElapsedTimer held;
    held.start();
    int answered = 0;
    while (held.elapsed() < 1500) {
        page.sendTextMessage(QStringLiteral(R"({"type":"keep"})"));
        pjlink.write("%1POWR ?\r");
        const QByteArray reply = line(pjlink, 2000);
        EXPECT_TRUE(reply.startsWith("%1POWR=") && !reply.contains("ERR")) << reply.toStdString();
        answered += reply.startsWith("%1POWR=") ? 1 : 0;
        QTest::qWait(100);
    }
    EXPECT_GE(answered, 3);
    const int whileHeld = holdSends();
    EXPECT_GE(whileHeld, 2);
    // The page goes without a word: the sends stop within a second.
    page.abort();
    QTest::qWait(1000);
    const int afterGone = holdSends();
    QTest::qWait(1000);
    EXPECT_EQ(holdSends(), afterGone);
    EXPECT_GE(afterGone, whileHeld);
}

// A few hundred hostile web clients from several addresses at once: slow heads, huge bodies,
// WebSockets that never read and a cross-site send. Another address is still served, so is
// PJLink, and nothing the hostile ones asked for reaches the line.
TEST_F(Bridge, HostileWebClientsLeaveEveryoneElseServedAndTheLineUntouched) {
    using testing::LoopbackServer;
    START({"--http-listen", "127.0.0.1:0"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon_.canReadLine(); }, 15000));
    const QUrl base(QString::fromLatin1(daemon_.readLine()).trimmed().mid(5));
    const auto port = quint16(base.port());
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    std::vector<LoopbackServer::Peer> hostile;
    for (int i = 0; i < 300; ++i) {
        LoopbackServer::Peer peer = LoopbackServer::connect(port, 2 + i % 8, 2000);
        if (!peer.isOpen())
            continue; // refused at once: fine
        switch (i % 4) {
        case 0: // slowloris: a head that never ends
        case 1:
            peer.send("GET /api/status HTTP/1.1\r\n" + host + "X-Slow: ");
            break;
        case 2: // a body far beyond the limit
            peer.send("POST /api/send HTTP/1.1\r\n" + host + "Content-Length: 1048576\r\n\r\n" +
                      std::string(64 * 1024, 'x'));
            break;
        case 3: // an event stream that is never read
            peer.shrinkReceiveBuffer();
            peer.send("GET /api/events HTTP/1.1\r\n" + host +
                      "Upgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                      "Sec-WebSocket-Version: 13\r\n\r\n");
            break;
        }
        hostile.push_back(std::move(peer));
    }
    // The others connect once the flood's connections have been taken from the backlog; a
    // connection the system refused while it was full is tried again, as any client would.
    QTest::qWait(300);
    const auto connectFrom = [&](int from) {
        LoopbackServer::Peer peer = LoopbackServer::connect(port, from);
        for (int i = 0; i < 3 && !peer.isOpen(); ++i) {
            QTest::qWait(500);
            peer = LoopbackServer::connect(port, from);
        }
        return peer;
    };
    LoopbackServer::Peer crossSite = connectFrom(10);
    ASSERT_TRUE(crossSite.isOpen());
    const std::string body = R"({"command":"C01"})";
    crossSite.send("POST /api/send HTTP/1.1\r\n" + host +
                   "Origin: http://elsewhere.example\r\nContent-Type: application/json\r\n"
                   "Content-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_EQ(crossSite.receive(5000, 1 << 16, "\r\n").substr(0, 12), "HTTP/1.1 403");

    LoopbackServer::Peer good = connectFrom(20);
    ASSERT_TRUE(good.send("GET /api/record?lines=1000 HTTP/1.1\r\n" + host + "\r\n"));
    const std::string record = good.receive(10000, 1 << 20, "\r\n\r\n");
    EXPECT_EQ(record.substr(0, 15), "HTTP/1.1 200 OK") << record;
    QTcpSocket pjlink;
    ASSERT_EQ(connectClient(pjlink), "PJLINK 0\r");
    EXPECT_EQ(ask(pjlink, "%1POWR ?"), "%1POWR=0\r");
    LoopbackServer::Peer last = connectFrom(21);
    ASSERT_TRUE(
        last.send("GET /api/record?lines=1000 HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n"));
    std::string lines = last.receive(10000, 1 << 20, "\r\n\r\n");
    const std::size_t length = lines.find("Content-Length: ");
    ASSERT_NE(length, std::string::npos) << lines;
    const std::size_t bodyBytes = std::stoul(lines.substr(length + 16));
    const std::size_t have = lines.size() - lines.find("\r\n\r\n") - 4;
    if (have < bodyBytes)
        lines += last.receive(10000, bodyBytes - have);
    EXPECT_EQ(lines.find("C 0 1"), std::string::npos) << lines;
    EXPECT_NE(lines.find("C R 0"), std::string::npos) << lines;
    EXPECT_EQ(daemon_.state(), QProcess::Running);
}

TEST_F(Bridge, AChangedWebPasswordEndsTheSessionsOnHangUp) {
    QFile secret(dir_.path() + QStringLiteral("/web-password"));
    const auto setPassword = [&](const QByteArray& password) {
        ASSERT_TRUE(secret.open(QIODevice::WriteOnly | QIODevice::Truncate));
        secret.write(password + '\n');
        secret.close();
        secret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    };
    setPassword("room12");
    START({"--http-listen", "127.0.0.1:0", "--http-password-file", secret.fileName()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return daemon_.canReadLine(); }, 15000));
    const QString said = QString::fromLatin1(daemon_.readLine());
    const quint16 port = quint16(said.section(u':', -1).chopped(2).toUInt());
    ASSERT_NE(port, 0) << said.toStdString();
    const QByteArray authority = "127.0.0.1:" + QByteArray::number(port);
    // The status line and the headers of one request's reply.
    const auto ask = [&](const QByteArray& request) {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        if (!client.waitForConnected(5000))
            return QByteArray("(no connection)");
        client.write(request);
        QByteArray reply;
        (void)QTest::qWaitFor(
            [&] {
                client.waitForReadyRead(50);
                reply += client.readAll();
                return reply.contains("\r\n\r\n");
            },
            5000);
        return reply;
    };
    const QByteArray body = "password=room12";
    const QByteArray login =
        ask("POST /login HTTP/1.1\r\nHost: " + authority + "\r\nOrigin: http://" + authority +
            "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    const qsizetype at = login.indexOf("trv-session=");
    ASSERT_GE(at, 0) << login.toStdString();
    const QByteArray cookie = login.mid(at, login.indexOf(';', at) - at);
    const QByteArray status =
        "GET /api/status HTTP/1.1\r\nHost: " + authority + "\r\nCookie: " + cookie + "\r\n\r\n";
    EXPECT_TRUE(ask(status).startsWith("HTTP/1.1 200 ")) << "logged in";
    // The same password reread keeps the session; a new one ends it.
    ::kill(pid_t(daemon_.processId()), SIGHUP);
    QByteArray log;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            log += daemon_.readAllStandardError();
            return log.contains("configuration reread");
        },
        5000));
    EXPECT_TRUE(ask(status).startsWith("HTTP/1.1 200 ")) << "the same password";
    setPassword("room13");
    ::kill(pid_t(daemon_.processId()), SIGHUP);
    log.clear();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            log += daemon_.readAllStandardError();
            return log.contains("configuration reread");
        },
        5000));
    EXPECT_TRUE(ask(status).startsWith("HTTP/1.1 401 ")) << "a new password";
    EXPECT_TRUE(ask("GET /api/status HTTP/1.1\r\nHost: " + authority +
                    "\r\nAuthorization: Bearer room13\r\n\r\n")
                    .startsWith("HTTP/1.1 200 "));
}

TEST_F(Bridge, UnusableSettingsAreRefusedWithTheirReason) {
    QFile config(dir_.path() + QStringLiteral("/room.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("port=COM99\n");
    config.close();
    QFile old(dir_.path() + QStringLiteral("/old.conf"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("listen=0.0.0.0:4352\n");
    old.close();
    const struct {
        QStringList arguments;
        QByteArray said;
    } rows[] = {
        {{"--port", "COM16"}, "bad value for --port: \"COM16\" (the ports are COM1 to COM15)"},
        {{"--port", "com0"}, "bad value for --port: \"com0\" (the ports are COM1 to COM15)"},
        {{"--config", config.fileName()},
         ": bad value for port: \"COM99\" (the ports are COM1 to COM15)"},
        {{"--port", link(), "--password-file", "/nonexistent"},
         "cannot read the password file /nonexistent: no such file or directory"},
        {{"--port", link(), "--password-file", dir_.path()},
         "cannot read the password file " + dir_.path().toLatin1() + ": it is a folder"},
        {{"--port", link(), "--password-file", "/dev/null"},
         "cannot read the password file /dev/null: not a regular file"},
        {{"--port", link(), "--max-per-address", "0"},
         "bad value for --max-per-address: \"0\" (1 to 64)"},
        {{"--port", link(), "--config", old.fileName()},
         ": unknown key \"listen\" (it is now \"pjlink-listen\")"},
        {{"--port", link(), "--listen", "0.0.0.0:4352"},
         "Unknown option 'listen' (it is now --pjlink-listen)."},
        {{"--port", link(), "--http-listen", "0.0.0.0:0"},
         "http-listen 0.0.0.0:0 without http-password-file: the web panel switches the "
         "projector, so beyond this machine (loopback) it needs a password"},
        {{"--port", link(), "--http-listen", "127.0.0.1:0", "--http-cert", "/nonexistent"},
         "http-cert and http-key go together"},
        {{"--port", link(), "--http-listen", "127.0.0.1:0", "--http-cert", "/nonexistent",
          "--http-key", "/nonexistent"},
         "cannot read the certificate /nonexistent: no such file or directory"},
        {{"--port", link(), "--http-listen", "localhost:80"},
         "bad value for --http-listen: \"localhost:80\""},
        {{"--port", link(), "--input-names", "5=Wireless"},
         "bad value for --input-names: \"5=Wireless\" (\"5=Wireless\" is not INPUT=NAME"},
        {{"--port", link(), "--serial", QString(33, u'9')},
         "(at most 32 characters of printable ASCII)"},
    };
    for (const auto& row : rows) {
        const std::string given = row.arguments.join(u' ').toStdString();
        QProcess refused;
        refused.start(QStringLiteral(TRV_BRIDGE_PATH), row.arguments);
        ASSERT_TRUE(refused.waitForFinished(5000)) << given;
        EXPECT_EQ(refused.exitCode(), 2) << given;
        const QByteArray said = refused.readAllStandardError();
        EXPECT_TRUE(said.contains(row.said)) << given << ": " << said.toStdString();
    }
    // A file its user may not read: root reads everything, so then the daemon runs as nobody.
    QFile secret(dir_.path() + QStringLiteral("/secret"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("room12\n");
    secret.close();
    secret.setPermissions(::geteuid() == 0 ? QFileDevice::ReadOwner : QFileDevice::Permissions());
    const QStringList arguments{"--port", link(), "--password-file", secret.fileName()};
    QProcess refused;
    if (::geteuid() == 0) {
        if (!QFile::exists(QStringLiteral("/usr/bin/setpriv")))
            GTEST_SKIP() << "setpriv is missing, so the test cannot drop root's privileges";
        refused.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                  QStringLiteral(TRV_BRIDGE_PATH)} +
                          arguments);
    } else {
        refused.start(QStringLiteral(TRV_BRIDGE_PATH), arguments);
    }
    ASSERT_TRUE(refused.waitForFinished(5000));
    EXPECT_EQ(refused.exitCode(), 2);
    const QByteArray said = refused.readAllStandardError();
    EXPECT_TRUE(said.contains(": permission denied")) << said.toStdString();
}

// The speed the daemon sets on the line, read back from the pseudo-terminal.
TEST_F(Bridge, LineSpeedIsGivenOrStoredOr19200) {
    if (!startSim())
        GTEST_SKIP() << "pseudo-terminals or the simulator are unavailable here";
    const QString settings = dir_.path() + QStringLiteral("/ZEKO/ZEKO.conf");
    ASSERT_TRUE(QDir().mkpath(dir_.path() + QStringLiteral("/ZEKO")));
    const struct {
        const char* name;
        QStringList arguments;
        const char* stored; // BaudRate= in the panel's settings
        speed_t speed;
    } rows[] = {
        {"a device, nothing given", {"--port", link()}, "96", B19200},
        {"a device, given", {"--port", link(), "--baud", "9600"}, "96", B9600},
        {"COM2, stored", {"--port", "COM2"}, "96", B9600},
        {"COM2, nothing stored", {"--port", "COM2"}, "", B19200},
        {"COM2, stored but given", {"--port", "COM2", "--baud", "19200"}, "96", B19200},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QFile file(settings);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[StartUP]\nComPort=2\nBaudRate=") + row.stored + "\n");
        file.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
        env.insert(QStringLiteral("ZEKO_COM2"), link());
        daemon_.setProcessEnvironment(env);
        ASSERT_TRUE(startDaemon(row.arguments.mid(2), row.arguments[1]));
        QTcpSocket client;
        ASSERT_EQ(connectClient(client), "PJLINK 0\r");
        EXPECT_EQ(ask(client, "%1POWR ?"), "%1POWR=0\r"); // the line is open
        const int fd = ::open(QFile::encodeName(QFileInfo(link()).canonicalFilePath()).constData(),
                              O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        termios line{};
        ASSERT_EQ(::tcgetattr(fd, &line), 0);
        ::close(fd);
        EXPECT_EQ(cfgetospeed(&line), row.speed);
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }
}

// Resets, one greedy address and a password guesser at once: everyone else is still served,
// and the log stays short.
TEST_F(Bridge, HostileClientsLeaveEveryoneElseServedAndTheLogShort) {
    QFile secret(dir_.path() + QStringLiteral("/secret"));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("room12\n");
    secret.close();
    secret.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    START({"--password-file", secret.fileName()});
    using testing::LoopbackServer;
    for (int i = 0; i < 100; ++i)
        LoopbackServer::connect(port_, 10 + i % 50).resetNow();
    std::vector<LoopbackServer::Peer> greedy;
    int greeted = 0;
    for (int i = 0; i < 20; ++i) {
        greedy.push_back(LoopbackServer::connect(port_, 5));
        greeted += greedy.back().receive(2000, 64, "\r").rfind("PJLINK 1 ", 0) == 0;
    }
    EXPECT_EQ(greeted, 16);
    // The guesser: wrong digests until it is turned away before the greeting.
    int guesses = 0;
    bool turnedAway = false;
    while (!turnedAway && guesses < 20) {
        LoopbackServer::Peer guesser = LoopbackServer::connect(port_, 6);
        const std::string greeting = guesser.receive(2000, 64, "\r");
        turnedAway = greeting.empty();
        if (!turnedAway) {
            guesser.send("00000000000000000000000000000000%1POWR ?\r");
            EXPECT_EQ(guesser.receive(2000, 64, "\r"), "PJLINK ERRA\r");
            ++guesses;
        }
    }
    EXPECT_EQ(guesses, 3);
    EXPECT_TRUE(turnedAway);
    // Meanwhile 127.0.0.1 logs in and is served at once.
    QTcpSocket client;
    const QByteArray greeting = connectClient(client);
    ASSERT_TRUE(greeting.startsWith("PJLINK 1 ")) << greeting.toStdString();
    const QByteArray digest =
        QCryptographicHash::hash(greeting.mid(9, 8) + "room12", QCryptographicHash::Md5).toHex();
    EXPECT_EQ(ask(client, digest + "%1POWR ?"), "%1POWR=0\r");
    // After the wait the guesser's address may try again, and the right password works.
    QTest::qWait(1100);
    LoopbackServer::Peer back = LoopbackServer::connect(port_, 6);
    const std::string again = back.receive(2000, 64, "\r");
    ASSERT_EQ(again.rfind("PJLINK 1 ", 0), 0u) << again;
    back.send(QCryptographicHash::hash(QByteArray::fromStdString(again.substr(9, 8)) + "room12",
                                       QCryptographicHash::Md5)
                  .toHex()
                  .toStdString() +
              "%1CLSS ?\r");
    EXPECT_EQ(back.receive(2000, 64, "\r"), "%1CLSS=2\r");
    // One line of each kind from each address within the minute.
    const QList<QByteArray> lines = daemon_.readAllStandardError().split('\n');
    for (const char* address : {"(127.0.0.5:", "(127.0.0.6:"}) {
        std::map<std::string, int> kinds;
        for (const QByteArray& line : lines) {
            if (line.contains(address))
                ++kinds[line.mid(line.indexOf("): ") + 3).left(20).toStdString()];
        }
        for (const auto& [kind, n] : kinds)
            EXPECT_EQ(n, 1) << address << kind;
        EXPECT_LE(kinds.size(), 4u) << address;
    }
}

TEST_F(Bridge, HangUpSignalRereadsTheConfigurationOrKeepsItWhenItIsBad) {
    QFile config(dir_.path() + QStringLiteral("/room12.conf"));
    const auto write = [&](const QByteArray& text) {
        ASSERT_TRUE(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(text);
        config.close();
    };
    write("# a bridge\nname=Room 12\n");
    START({"--config", config.fileName()});
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    EXPECT_EQ(ask(client, "%1NAME ?"), "%1NAME=Room 12\r");
    for (const auto& [text, name] :
         {std::pair{"name=Room 13\n", "%1NAME=Room 13\r"},
          std::pair{"name=Room 14\ninputs=1=99\n", "%1NAME=Room 13\r"}}) {
        write(text);
        ::kill(pid_t(daemon_.processId()), SIGHUP);
        // The log says when the file has been read again.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return daemon_.readAllStandardError().contains("configuration"); }, 5000));
        EXPECT_EQ(ask(client, "%1NAME ?"), name) << text;
    }
}

TEST_F(Bridge, ThroughAnRfc2217DeviceServer) {
    testing::Ser2net server;
    if (!startSim() || !server.start(dir_.path(), link(), QStringLiteral("telnet(rfc2217),")) ||
        !startDaemon({}, QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port())))
        GTEST_SKIP() << "ser2net, pseudo-terminals or the simulator are unavailable here";
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    EXPECT_EQ(ask(client, "%1POWR ?"), "%1POWR=0\r");
    EXPECT_EQ(ask(client, "%1LAMP ?"), "%1LAMP=1234 0\r");
    EXPECT_EQ(ask(client, "%1POWR 1"), "%1POWR=OK\r");
    EXPECT_EQ(ask(client, "%1POWR ?"), "%1POWR=3\r");
}

TEST_F(Bridge, ThroughAnRfc2217sDeviceServerAndNotPastABadCertificate) {
    testing::Ser2net server;
    testing::TestCertificates certificates;
    const auto ssl = [&](const char* name) {
        return QStringLiteral("telnet(rfc2217),ssl(key=%1,cert=%2),")
            .arg(certificates.key(name), certificates.crt(name));
    };
    if (!testing::TestCertificates::available() || !certificates.make(dir_.path()) ||
        !startSim({"--trace"}) ||
        !server.start(dir_.path(), link(), QStringList{ssl("expired"), ssl("server")}))
        GTEST_SKIP() << "ser2net, openssl, pseudo-terminals or the simulator are unavailable here";
    const QStringList ca{"--tls-ca-file", certificates.crt("ca")};
    // The expired certificate: the reason in the log, and nothing on the line.
    ASSERT_TRUE(startDaemon(ca, QStringLiteral("rfc2217s://127.0.0.1:%1").arg(server.port(0))));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return daemon_.readAllStandardError().contains("the server's certificate expired on");
        },
        5000));
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    EXPECT_EQ(ask(client, "%1POWR ?"), "%1POWR=ERR4\r"); // the line is down
    client.abort();
    daemon_.terminate();
    daemon_.waitForFinished(5000);
    // The good one: the first command the simulator hears is the status read through it.
    ASSERT_TRUE(startDaemon(ca, QStringLiteral("rfc2217s://127.0.0.1:%1").arg(server.port(1))));
    QByteArray log;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            log += daemon_.readAllStandardError();
            return log.contains("line open");
        },
        5000))
        << log.toStdString();
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    EXPECT_EQ(ask(client, "%1POWR ?"), "%1POWR=0\r");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000));
    EXPECT_EQ(sim_.readLine().trimmed(), "CR0");
}

// PJLink Class 2 over UDP as a control system meets it: a search answered with the configured
// MAC address once however often it is repeated within a second, and the status notifications
// of a power cycle, an input switch and faults that come and go on the projector.
TEST_F(Bridge, AnswersSearchesAndNotifiesWhatChanges) {
    QUdpSocket notified, searcher;
    ASSERT_TRUE(notified.bind(QHostAddress::LocalHost, 0));
    ASSERT_TRUE(searcher.bind(QHostAddress::LocalHost, 0));
    const QString mac = QStringLiteral("02:00:00:00:00:12");
    if (!startSim({"--trace"}) ||
        !startDaemon(
            {"--notify", QStringLiteral("127.0.0.1:%1").arg(notified.localPort()), "--mac", mac}))
        GTEST_SKIP() << "pseudo-terminals, the simulator or the daemon are unavailable here";
    // Each datagram from the address and port that serve PJLink.
    std::vector<QByteArray> notifications;
    const auto take = [&](QUdpSocket& socket, std::vector<QByteArray>& into) {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            EXPECT_EQ(datagram.senderAddress(), QHostAddress(QHostAddress::LocalHost));
            EXPECT_EQ(datagram.senderPort(), udpPort_);
            into.push_back(datagram.data());
        }
    };
    const auto notifiedOf = [&](const QByteArray& what) {
        return QTest::qWaitFor(
            [&] {
                take(notified, notifications);
                return !notifications.empty() && notifications.back() == what;
            },
            5000);
    };
    EXPECT_TRUE(notifiedOf("%2LKUP=" + mac.toLatin1() + '\r'));

    // Two searches within a second; the answer comes within 10 s, meanwhile the rest.
    QElapsedTimer searched;
    searched.start();
    for (int i = 0; i < 2; ++i)
        searcher.writeDatagram("%2SRCH\r", QHostAddress::LocalHost, udpPort_);

    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    EXPECT_EQ(ask(client, "%1POWR ?"), "%1POWR=0\r");
    EXPECT_EQ(ask(client, "%1POWR 1"), "%1POWR=OK\r");
    EXPECT_TRUE(notifiedOf("%2POWR=1\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ask(client, "%1POWR ?") == "%1POWR=1\r"; }, 5000));
    EXPECT_EQ(ask(client, "%1INPT 31"), "%1INPT=OK\r");
    EXPECT_TRUE(notifiedOf("%2INPT=31\r"));
    EXPECT_EQ(ask(client, "%1POWR 0"), "%1POWR=OK\r");
    EXPECT_TRUE(notifiedOf("%2POWR=0\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ask(client, "%1POWR ?") == "%1POWR=0\r"; }, 5000));
    // Faults set and cleared on the projector while it runs, seen by the next status read.
    const struct {
        int signal;
        const char* fault;
        const char* errors;
        std::vector<QByteArray> notified;
    } faults[] = {
        {SIGUSR1, "fault temp", "%1ERST=002000\r", {"%2POWR=1\r", "%2ERST=002000\r"}},
        {SIGUSR2, "fault none", "%1ERST=000000\r", {"%2POWR=0\r", "%2ERST=000000\r"}},
    };
    for (const auto& row : faults) {
        ::kill(pid_t(sim_.processId()), row.signal);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                while (sim_.canReadLine()) {
                    if (sim_.readLine().trimmed() == row.fault)
                        return true;
                }
                return false;
            },
            5000));
        const std::size_t before = notifications.size();
        EXPECT_EQ(ask(client, "%1ERST ?"), row.errors);
        EXPECT_TRUE(notifiedOf(row.notified.back()));
        EXPECT_EQ(std::vector<QByteArray>(notifications.begin() + std::ptrdiff_t(before),
                                          notifications.end()),
                  row.notified)
            << row.fault;
    }

    std::vector<QByteArray> answers;
    while (searched.elapsed() < 10500) {
        searcher.waitForReadyRead(100);
        take(searcher, answers);
    }
    EXPECT_EQ(answers, std::vector<QByteArray>{"%2ACKN=" + mac.toLatin1() + '\r'});
    EXPECT_EQ(notifications.size(), 8u) << "nothing else notified";
}

TEST_F(Bridge, UdpOffNeitherAnswersNorNotifies) {
    QUdpSocket notified;
    ASSERT_TRUE(notified.bind(QHostAddress::LocalHost, 0));
    START({"--udp", "off", "--notify", QStringLiteral("127.0.0.1:%1").arg(notified.localPort())});
    QTcpSocket client;
    ASSERT_EQ(connectClient(client), "PJLINK 0\r");
    EXPECT_EQ(ask(client, "%1POWR 1"), "%1POWR=OK\r");
    QTest::qWait(500);
    EXPECT_FALSE(notified.hasPendingDatagrams());
    EXPECT_EQ(daemon_.readAllStandardOutput(), "") << "no pjlink-udp line";
}

} // namespace
} // namespace trv
