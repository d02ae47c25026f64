// trv-ctl as a user runs it: a process against trv-sim on a pseudo-terminal, or against a
// scripted server on 127.0.0.1.
#include "support/LoopbackServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace trv {
namespace {

class Ctl : public ::testing::Test {
protected:
    void TearDown() override {
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            sim_.waitForFinished(5000);
        }
    }
    bool startSim(const QStringList& options = {}) {
        sim_.start(QStringLiteral(TRV_SIM_PATH),
                   QStringList{QStringLiteral("--trace"), QStringLiteral("--link"), link()} +
                       options);
        return sim_.waitForStarted(5000) &&
               QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000) &&
               !sim_.readLine().isEmpty();
    }
    QString link() const { return dir_.path() + QStringLiteral("/projector"); }
    QString settings() const { return dir_.path() + QStringLiteral("/ZEKO/ZEKO.conf"); }
    void store(const QByteArray& content) {
        QDir().mkpath(dir_.path() + QStringLiteral("/ZEKO"));
        QFile file(settings());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    struct Run {
        int exit = -1;
        QString out, err;
    };
    Run ctl(const QStringList& args) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path()); // else Qt warns of its absence
        env.insert(QStringLiteral("ZEKO_COM2"), link());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TRV_CTL_PATH), args);
        process.waitForFinished(30000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromLatin1(process.readAllStandardOutput()),
                QString::fromLatin1(process.readAllStandardError())};
    }
    QStringList received() {
        QStringList lines;
        while (QTest::qWaitFor([&] { return sim_.canReadLine(); }, 300))
            lines << QString::fromLatin1(sim_.readLine().trimmed());
        return lines;
    }

    QTemporaryDir dir_;
    QProcess sim_;
};

#define START(...)                                                                                 \
    if (!startSim(__VA_ARGS__))                                                                    \
    GTEST_SKIP() << "pseudo-terminals or the simulator are unavailable here"

TEST_F(Ctl, SendUsesTheStoredPortAndAddressAndChangesNoSetting) {
    START({QStringLiteral("--id"), QStringLiteral("2")});
    const QByteArray stored("[StartUP]\nComPort=2\nBaudRate=96\nADRESS=A002\n");
    store(stored);
    const Run run =
        ctl({QStringLiteral("send"), QStringLiteral("C00"), QStringLiteral("CF LAMPMODE FULL")});
    EXPECT_EQ(run.exit, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "TxD: A 0 0 2 C 0 0  [CR] \nRxD:  [ACK] \n"
                       "TxD: A 0 0 2 C F _ L A M P M O D E _ F U L L  [CR] \nRxD:  [ACK] \n");
    EXPECT_EQ(received(), QStringList({"A002C00", "A002CF LAMPMODE FULL"}));
    QFile file(settings());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), stored);
}

TEST_F(Ctl, ReadsDecodeAndJsonTellsEverything) {
    START();
    Run run =
        ctl({QStringLiteral("--port"), link(), QStringLiteral("read"), QStringLiteral("status")});
    EXPECT_EQ(run.exit, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, " Stand by\n");
    run = ctl({QStringLiteral("--port"), link(), QStringLiteral("--json"), QStringLiteral("read"),
               QStringLiteral("lamp")});
    EXPECT_EQ(run.exit, 0);
    const QJsonObject object = QJsonDocument::fromJson(run.out.toLatin1()).object();
    EXPECT_EQ(object["command"].toString(), "CR3");
    EXPECT_EQ(object["out"].toString(), "CR3\r");
    EXPECT_EQ(object["in"].toString(), "01234\r");
    EXPECT_EQ(object["decoded"].toString(), "   1 2 3 4   Hour Use");
    EXPECT_TRUE(object["replied"].toBool());
    EXPECT_GE(object["replyMs"].toInt(-1), 0);
}

TEST_F(Ctl, SeveralReadsInOneRunEachOnItsLineAndAsData) {
    START();
    const QStringList reads{"--port", link(), "read", "status", "lamp", "temp"};
    Run run = ctl(reads);
    EXPECT_EQ(run.exit, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, " Stand by\n"
                       "   1 2 3 4   Hour Use\n"
                       " 0 2 5 . 0 deg C 0 2 4 . 5 deg C 0 2 6 . 0 deg C \n");
    run = ctl(QStringList{"--json"} + reads);
    EXPECT_EQ(run.exit, 0) << run.err.toStdString();
    const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << run.out.toStdString();
    QList<QJsonObject> objects;
    for (const QString& line : lines)
        objects << QJsonDocument::fromJson(line.toLatin1()).object();
    EXPECT_EQ(objects[0]["command"].toString(), "CR0");
    EXPECT_EQ(objects[0]["value"].toString(), "standby");
    EXPECT_EQ(objects[1]["command"].toString(), "CR3");
    EXPECT_EQ(objects[1]["value"].toInt(-1), 1234);
    EXPECT_EQ(objects[2]["command"].toString(), "CR6");
    std::vector<double> celsius;
    for (const QJsonValue& value : objects[2]["value"].toArray())
        celsius.push_back(value.toDouble(-1));
    EXPECT_EQ(celsius, std::vector<double>({25.0, 24.5, 26.0}));
    EXPECT_EQ(received(), QStringList({"CR0", "CR3", "CR6", "CR0", "CR3", "CR6"}));
}

// Of several reads on a projector played by a script, each keeps its line and the run ends
// with the worst of their ends, wherever it came.
struct WorstRow {
    const char* name;
    std::vector<std::string> answers; // to CR0, CR3 and CR6 in turn; empty: none
    int exit;
    std::string out;
    const char* complaint; // on standard error
};

void PrintTo(const WorstRow& row, std::ostream* os) { *os << row.name; }

class CtlReads : public Ctl, public ::testing::WithParamInterface<WorstRow> {};

TEST_P(CtlReads, EndWithTheWorstOfTheirEnds) {
    const WorstRow& row = GetParam();
    testing::LoopbackServer server;
    std::string heard;
    server.serve([&](testing::LoopbackServer::Peer& peer) {
        for (const std::string& answer : row.answers) {
            heard += peer.receive(5000, 64, "\r");
            if (!answer.empty())
                peer.send(answer);
        }
        peer.receive(5000); // until trv-ctl has gone
    });
    const Run run = ctl(
        {"--port", server.address("tcp"), "--timeout", "2000", "read", "status", "lamp", "temp"});
    ASSERT_TRUE(server.finished());
    EXPECT_EQ(heard, "CR0\rCR3\rCR6\r");
    EXPECT_EQ(run.exit, row.exit) << run.err.toStdString();
    EXPECT_EQ(run.out.toStdString(), row.out);
    EXPECT_TRUE(run.err.contains(QLatin1String(row.complaint))) << run.err.toStdString();
}

const std::string kTemps = "025.0 024.5 026.0\r";
const std::string kTempsShown = " 0 2 5 . 0 deg C 0 2 4 . 5 deg C 0 2 6 . 0 deg C \n";

INSTANTIATE_TEST_SUITE_P(
    CtlWorst, CtlReads,
    ::testing::Values(WorstRow{"NoReply",
                               {"80\r", "", kTemps},
                               3,
                               " Stand by\n\n" + kTempsShown,
                               "no reply to CR3 from"},
                      WorstRow{"NotDecodedAfterNoReply",
                               {"", "1234\r", kTemps},
                               4,
                               "\n\n" + kTempsShown,
                               "the reply \"1 2 3 4  [CR]\" to CR3 could not be decoded"},
                      WorstRow{"NotDecodedBeforeNoReply",
                               {"99\r", "", kTemps},
                               4,
                               "\n\n" + kTempsShown,
                               "the reply \"9 9  [CR]\" to CR0 could not be decoded"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Ctl, ExitCodes) {
    START({QStringLiteral("--id"), QStringLiteral("1")});
    const QString port = link();
    // A reply that cannot be decoded: the panel decodes reads without a unit address only, and
    // trv-ctl says so before it sends.
    const Run addressed = ctl({"--port", port, "--address", "1", "read", "temp"});
    EXPECT_EQ(addressed.exit, 4);
    EXPECT_TRUE(addressed.err.startsWith(QLatin1String("trv-ctl: note: A001CR6 goes out with a "
                                                       "unit address")))
        << addressed.err.toStdString();
    // Another unit's address: no reply.
    const Run silent = ctl({"--port", port, "--address", "3", "--timeout", "300", "send", "C00"});
    EXPECT_EQ(silent.exit, 3);
    EXPECT_TRUE(silent.out.contains(QLatin1String(" X X X X "))) << silent.out.toStdString();
    const Run missing = ctl({"--port", "/dev/trv-unplugged", "read", "status"});
    EXPECT_EQ(missing.exit, 1);
    EXPECT_EQ(missing.err, "trv-ctl: /dev/trv-unplugged: no such device\n");
    const Run refused = ctl({"--port", "tcp://127.0.0.1:1", "read", "status"});
    EXPECT_EQ(refused.exit, 1);
    EXPECT_TRUE(refused.err.contains(QLatin1String("refused"))) << refused.err.toStdString();
    const Run usage = ctl({"--port", port, "send", "C00", "C01\n"});
    EXPECT_EQ(usage.exit, 2);
    EXPECT_EQ(received(), QStringList({"A001CR6", "A003C00"})); // nothing of the refused run
}

TEST_F(Ctl, HoldRepeatsEveryHundredMillisecondsAndStopsCleanlyOnCtrlC) {
    START();
    // Bounds that hold however late the ticks come: the sends due before 1 s are at most 10.
    Run run = ctl({QStringLiteral("--port"), link(), QStringLiteral("hold"), QStringLiteral("C30"),
                   QStringLiteral("1")});
    EXPECT_EQ(run.exit, 0) << run.err.toStdString();
    const QStringList timed = received();
    EXPECT_GE(timed.size(), 3);
    EXPECT_LE(timed.size(), 10);
    EXPECT_EQ(timed, QStringList(timed.size(), QStringLiteral("C30")));
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("sent C30 %1 times").arg(timed.size())))
        << run.out.toStdString();

    QProcess hold;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
    hold.setProcessEnvironment(env);
    QElapsedTimer sinceStart;
    sinceStart.start();
    hold.start(QStringLiteral(TRV_CTL_PATH), {"--port", link(), "hold", "C31", "30"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000));
    QTest::qWait(350);
    ::kill(pid_t(hold.processId()), SIGINT);
    const qint64 stoppedMs = sinceStart.elapsed();
    ASSERT_TRUE(hold.waitForFinished(5000));
    EXPECT_EQ(hold.exitCode(), 0);
    const QString out = QString::fromLatin1(hold.readAllStandardOutput());
    const QStringList sent = received();
    // Every send it counted reached the projector, and none came after the stop: the hold's
    // clock starts after this one, and its n-th repeat comes n times 100 ms or more after it.
    EXPECT_TRUE(out.startsWith(QStringLiteral("sent C31 %1 times").arg(sent.size())))
        << out.toStdString();
    EXPECT_GE(sent.size(), 1);
    EXPECT_LE(sent.size(), stoppedMs / 100 + 1);
    EXPECT_EQ(sent, QStringList(sent.size(), QStringLiteral("C31")));
}

// Commands enough for a run of at least 5 s on a line that answers each after 150 ms.
QStringList manyCommands() {
    QStringList commands;
    for (int i = 0; i < 5; ++i)
        commands << QStringList{"C00", "CR0", "CR3", "C01", "CR6", "CR1", "CR4"};
    return commands;
}

// The line hangs up during the run: trv-ctl ends at once with what it did, the loss and its
// reason, and reports nothing after it as sent.
struct LossRow {
    const char* name;
    QStringList args;
    enum { Text, Json, Hold } output;
};

void PrintTo(const LossRow& row, std::ostream* os) { *os << row.name; }

class CtlLineLost : public Ctl, public ::testing::WithParamInterface<LossRow> {};

TEST_P(CtlLineLost, EndsWithWhatWasSentAndTheReason) {
    START({QStringLiteral("--hangup-after"), QStringLiteral("2"), QStringLiteral("--delay"),
           QStringLiteral("150")});
    const LossRow& row = GetParam();
    const Run run = ctl(QStringList{QStringLiteral("--port"), link()} + row.args);
    EXPECT_EQ(run.exit, 1) << run.err.toStdString();
    const QStringList errors = run.err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(errors.size(), 1) << run.err.toStdString();
    EXPECT_TRUE(
        errors[0].startsWith(QStringLiteral("trv-ctl: the link to %1 was lost: ").arg(link())))
        << run.err.toStdString();
    EXPECT_EQ(errors[0].section(QLatin1String("was lost: "), 1), "the line hung up");

    QStringList reported; // the commands trv-ctl says went out
    for (const QString& line : run.out.split(u'\n', Qt::SkipEmptyParts)) {
        if (row.output == LossRow::Json) {
            reported << QJsonDocument::fromJson(line.toLatin1()).object()["command"].toString();
        } else if (row.output == LossRow::Text && line.startsWith(QLatin1String("TxD:"))) {
            reported << line.mid(4).remove(QStringLiteral("[CR]")).remove(u' ');
        } else if (row.output == LossRow::Hold) {
            static const QRegularExpression counts(
                QStringLiteral("^sent C30 (\\d+) times, \\d+ answered$"));
            const auto match = counts.match(line);
            ASSERT_TRUE(match.hasMatch()) << line.toStdString();
            reported = QStringList(match.captured(1).toInt(), QStringLiteral("C30"));
        }
    }
    EXPECT_FALSE(reported.isEmpty());
    if (row.output != LossRow::Hold) {
        EXPECT_LT(reported.size(), manyCommands().size()) << run.out.toStdString();
        EXPECT_EQ(reported, manyCommands().mid(0, reported.size()));
    }
    EXPECT_EQ(received(), reported);
}

INSTANTIATE_TEST_SUITE_P(
    CtlHangUp, CtlLineLost,
    ::testing::Values(LossRow{"Send", QStringList{"send"} + manyCommands(), LossRow::Text},
                      LossRow{"SendJson", QStringList{"--json", "send"} + manyCommands(),
                              LossRow::Json},
                      LossRow{"Hold", {"hold", "C30", "20"}, LossRow::Hold}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Ctl, JsonKeepsAReplyCutShort) {
    // A projector that answers a status read with "00" and no carriage return.
    testing::LoopbackServer server;
    std::string heard;
    server.serve([&](testing::LoopbackServer::Peer& peer) {
        heard = peer.receive(5000, 64, "\r");
        peer.send("00");
        peer.receive(5000); // until trv-ctl has gone
    });
    const Run run =
        ctl({"--port", server.address("tcp"), "--timeout", "300", "--json", "read", "status"});
    ASSERT_TRUE(server.finished());
    EXPECT_EQ(run.exit, 3) << run.err.toStdString();
    EXPECT_EQ(heard, "CR0\r");
    const QJsonObject object = QJsonDocument::fromJson(run.out.toLatin1()).object();
    EXPECT_EQ(object["in"].toString(), "00") << run.out.toStdString();
    EXPECT_EQ(object["rx"].toString(), " 0 0 ");
    EXPECT_FALSE(object["replied"].toBool(true));
}

TEST_F(Ctl, ServerThatClosesMidRunLeavesOnlyTheLossOnStandardError) {
    // A server that answers the first command and closes on the second.
    testing::LoopbackServer server;
    std::string heard;
    server.serve([&](testing::LoopbackServer::Peer& peer) {
        heard = peer.receive(5000, 64, "\r");
        peer.send("\x06");
        heard += peer.receive(5000, 64, "\r");
    });
    const Run run = ctl({"--port", server.address("tcp"), "send", "C00", "C01", "CR0"});
    ASSERT_TRUE(server.finished());
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(heard, "C00\rC01\r");
    EXPECT_EQ(run.out, "TxD: C 0 0  [CR] \nRxD:  [ACK] \nTxD: C 0 1  [CR] \nRxD:\n");
    EXPECT_EQ(run.err, QStringLiteral("trv-ctl: the link to %1 was lost: the server closed the "
                                      "connection\n")
                           .arg(server.address("tcp")));
}

TEST_F(Ctl, RecordHoldsTheExchangesInOrderWithTimesAndHex) {
    START();
    const QString stored = dir_.path() + QStringLiteral("/stored.log");
    const QString given = dir_.path() + QStringLiteral("/given.log");
    store(QStringLiteral("[Log]\nFile=%1\n").arg(stored).toUtf8());
    for (const QStringList& extra : {QStringList{}, QStringList{QStringLiteral("--log"), given}}) {
        const Run run = ctl(extra + QStringList{QStringLiteral("--port"), QStringLiteral("COM2"),
                                                QStringLiteral("read"), QStringLiteral("status"),
                                                QStringLiteral("lamp")});
        EXPECT_EQ(run.exit, 0) << run.err.toStdString();
    }
    QFile file(given);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // A reply may come in several deliveries: its RX lines are joined here.
    QStringList seen;
    const QRegularExpression time(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split('\t');
        ASSERT_EQ(fields.size(), 5) << line.toStdString();
        EXPECT_TRUE(time.match(QString::fromLatin1(fields[0])).hasMatch()) << line.toStdString();
        EXPECT_EQ(fields[1], "COM2");
        const QString entry =
            QString::fromLatin1(fields[2] + ' ' + (fields[2] == "--" ? fields[3] : fields[4]));
        if (fields[2] == "RX" && !seen.isEmpty() && seen.last().startsWith(QLatin1String("RX")))
            seen.last() += QLatin1Char(' ') + QString::fromLatin1(fields[4]);
        else
            seen << entry;
    }
    EXPECT_EQ(seen.size(), 6) << seen.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(seen.value(0), "-- opened");
    EXPECT_EQ(seen.value(1), "TX 43 52 30 0D");
    EXPECT_TRUE(seen.value(2).startsWith(QLatin1String("RX ")));
    EXPECT_EQ(seen.value(3), "TX 43 52 33 0D");
    EXPECT_EQ(seen.value(4), "RX 30 31 32 33 34 0D");
    EXPECT_EQ(seen.value(5), "-- closed");
    // The stored file had the run without --log, and only that one.
    QFile older(stored);
    ASSERT_TRUE(older.open(QIODevice::ReadOnly));
    EXPECT_EQ(older.readAll().count("\tTX\t"), 2);
}

TEST_F(Ctl, ListAndPorts) {
    const Run list =
        ctl({QStringLiteral("list"), QStringLiteral("read"), QStringLiteral("lampmode")});
    EXPECT_EQ(list.exit, 0);
    EXPECT_TRUE(list.out.startsWith(QLatin1String("read\tCR LAMPMODE[CR]")))
        << list.out.toStdString();
    store("[Ports]\nCOM3=rfc2217://room12.example:4001\n");
    const Run ports = ctl({QStringLiteral("ports")});
    EXPECT_EQ(ports.exit, 0);
    EXPECT_TRUE(ports.out.contains(QStringLiteral("COM2\t%1\n").arg(link())));
    EXPECT_TRUE(ports.out.contains(QLatin1String("COM3\trfc2217://room12.example:4001\n")));
}

} // namespace
} // namespace trv
