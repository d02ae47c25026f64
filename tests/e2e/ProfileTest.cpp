// Profiles as users keep them: trv-ctl and trv-panel run with --profile, each profile on its
// own simulated line.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace trv {
namespace {

class Profiles : public ::testing::Test {
protected:
    void TearDown() override {
        for (QProcess* process : {&simA_, &simB_, &panel_}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                process->waitForFinished(5000);
            }
        }
    }
    QString link(const char* name) const { return dir_.path() + QLatin1Char('/') + name; }
    bool startSim(QProcess& sim, const char* name, const char* id) {
        sim.start(QStringLiteral(TRV_SIM_PATH),
                  {QStringLiteral("--trace"), QStringLiteral("--link"), link(name),
                   QStringLiteral("--id"), QLatin1String(id)});
        return sim.waitForStarted(5000) &&
               QTest::qWaitFor([&] { return sim.canReadLine(); }, 5000) &&
               !sim.readLine().isEmpty();
    }
    QString profileFile(const QString& name) const {
        return dir_.path() + QStringLiteral("/ZEKO/profiles/") + name + QStringLiteral(".conf");
    }
    void store(const QString& name, const QByteArray& content) {
        QDir().mkpath(dir_.path() + QStringLiteral("/ZEKO/profiles"));
        QFile file(profileFile(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray stored(const QString& name) const {
        QFile file(profileFile(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }
    void prepare(QProcess& process) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("ZEKO_COM2"), link("a"));
        env.insert(QStringLiteral("ZEKO_COM3"), link("b"));
        process.setProcessEnvironment(env);
    }

    struct Run {
        int exit = -1;
        QString out, err;
    };
    Run run(const char* program, const QStringList& args) {
        QProcess process;
        prepare(process);
        process.start(QString::fromLatin1(program), args);
        process.waitForFinished(30000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    static QStringList received(QProcess& sim) {
        QStringList lines;
        while (QTest::qWaitFor([&] { return sim.canReadLine(); }, 300))
            lines << QString::fromLatin1(sim.readLine().trimmed());
        return lines;
    }

    QTemporaryDir dir_;
    QProcess simA_, simB_, panel_;
};

TEST_F(Profiles, TwoProfilesOnTwoLinesKeepTheirOwnPortAndAddress) {
    if (!startSim(simA_, "a", "1") || !startSim(simB_, "b", "2"))
        GTEST_SKIP() << "pseudo-terminals or the simulator are unavailable here";
    const QByteArray room("[StartUP]\nComPort=2\nBaudRate=96\nADRESS=A001\n");
    const QByteArray hall("[StartUP]\nComPort=3\nBaudRate=192\nADRESS=A002\n");
    store(QStringLiteral("Room 12"), room);
    store(QStringLiteral("hall-A_2.1"), hall);

    Run one = run(TRV_CTL_PATH, {"--profile", "Room 12", "send", "C00"});
    EXPECT_EQ(one.exit, 0) << one.err.toStdString();
    Run other = run(TRV_CTL_PATH, {"--profile", "hall-A_2.1", "send", "C01"});
    EXPECT_EQ(other.exit, 0) << other.err.toStdString();
    EXPECT_EQ(received(simA_), QStringList{"A001C00"});
    EXPECT_EQ(received(simB_), QStringList{"A002C01"});

    const Run list = run(TRV_CTL_PATH, {"profiles"});
    EXPECT_EQ(list.exit, 0) << list.err.toStdString();
    EXPECT_EQ(list.out, "(default)\t-\t19200\tsingle\n"
                        "Room 12\tCOM2\t9600\t1\n"
                        "hall-A_2.1\tCOM3\t19200\t2\n");
    EXPECT_EQ(stored(QStringLiteral("Room 12")), room);
    EXPECT_EQ(stored(QStringLiteral("hall-A_2.1")), hall);
    EXPECT_FALSE(QFile::exists(dir_.path() + QStringLiteral("/ZEKO/ZEKO.conf")));
}

TEST_F(Profiles, SecondPanelOnAnOpenProfileSaysSoAndWritesNothing) {
    if (!startSim(simA_, "a", "1"))
        GTEST_SKIP() << "pseudo-terminals or the simulator are unavailable here";
    const QByteArray room("[StartUP]\nComPort=2\nBaudRate=96\nADRESS=A001\n");
    store(QStringLiteral("Room 12"), room);
    prepare(panel_);
    panel_.start(QStringLiteral(TRV_PANEL_PATH), {"--profile", "Room 12"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QFile::exists(dir_.path() + "/ZEKO/profiles/.Room 12.panel.lock"); }, 10000));

    QProcess second;
    prepare(second);
    second.start(QStringLiteral(TRV_PANEL_PATH), {"--profile", "Room 12"});
    QByteArray said;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            said += second.readAllStandardError();
            return said.contains("already open");
        },
        10000));
    EXPECT_TRUE(said.contains("trv-panel: The panel of the profile \"Room 12\" is already open."))
        << said.toStdString();
    // It now waits for an answer in its box, which nobody here gives.
    second.kill();
    second.waitForFinished(5000);
    EXPECT_EQ(panel_.state(), QProcess::Running);
    EXPECT_EQ(stored(QStringLiteral("Room 12")), room);
}

struct BadName {
    const char* title;
    QString name;
    const char* shown; // as the message quotes it
};

void PrintTo(const BadName& row, std::ostream* os) { *os << row.title; }

class BadNames : public Profiles, public ::testing::WithParamInterface<BadName> {};

TEST_P(BadNames, AreUsageErrorsNamingTheValueAndMakeNoFile) {
    const BadName& row = GetParam();
    const QString expected = QStringLiteral("bad value for --profile: \"%1\"").arg(row.shown);
    for (const char* program : {TRV_CTL_PATH, TRV_PANEL_PATH}) {
        SCOPED_TRACE(program);
        const Run refused = run(program, {"--profile", row.name, "read", "status"});
        EXPECT_EQ(refused.exit, 2);
        EXPECT_TRUE(refused.err.contains(expected)) << refused.err.toStdString();
    }
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, BadNames,
    ::testing::Values(BadName{"UpAndAcross", QStringLiteral("../x"), "../x"},
                      BadName{"Separator", QStringLiteral("a/b"), "a/b"},
                      BadName{"Hidden", QStringLiteral(".hidden"), ".hidden"},
                      BadName{"Control", QStringLiteral("a\x01z"), "a\\x01z"},
                      BadName{"TooLong", QString(65, u'x'),
                              "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"}),
    [](const auto& info) { return std::string(info.param.title); });

} // namespace
} // namespace trv
