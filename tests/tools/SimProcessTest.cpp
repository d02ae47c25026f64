// trv-sim as a process: what a reader that never reads and a hang-up signal do to it.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace trv {
namespace {

// User plus system time of a process, in clock ticks.
long cpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong(); // utime, stime
}

class SimProcess : public ::testing::Test {
protected:
    void TearDown() override {
        if (device_ >= 0)
            ::close(device_);
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            sim_.waitForFinished(5000);
        }
    }
    bool start(const QStringList& options) {
        sim_.start(QStringLiteral(TRV_SIM_PATH), options);
        if (!sim_.waitForStarted(5000) ||
            !QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000))
            return false;
        path_ = sim_.readLine().trimmed();
        return true;
    }

    QProcess sim_;
    QByteArray path_;
    int device_ = -1;
};

TEST_F(SimProcess, RepliesNobodyReadsNeitherSpinNorPileUp) {
    if (!start({QStringLiteral("--trace"), QStringLiteral("--baud"), QStringLiteral("19200")}))
        GTEST_SKIP() << "the simulator cannot run here";
    device_ = ::open(path_.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(device_, 0);
    termios raw{};
    tcgetattr(device_, &raw);
    cfmakeraw(&raw);
    tcsetattr(device_, TCSANOW, &raw);
    // Status reads, faster than the replies can go out, until the line holds all it can.
    int handled = 0, dropped = 0;
    int waiting = 0, steady = 0;
    const QByteArray commands = QByteArray("CR6\r").repeated(100);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            // A full input only refuses the write; the next turn tries again.
            [[maybe_unused]] const ssize_t n =
                ::write(device_, commands.constData(), std::size_t(commands.size()));
            while (sim_.canReadLine())
                sim_.readLine().startsWith("dropped ") ? ++dropped : ++handled;
            int now = 0;
            ioctl(device_, FIONREAD, &now);
            steady = now > 0 && now == waiting ? steady + 1 : 0;
            waiting = now;
            return steady >= 10;
        },
        30000));
    EXPECT_GT(dropped, 0);
    EXPECT_GT(handled, 0);
    // Its replies are stuck in a full line: it waits for room instead of trying again and again.
    const long before = cpuTicks(sim_.processId());
    QTest::qWait(500);
    const long used = cpuTicks(sim_.processId()) - before;
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 5) << used << " ticks in half a second";
}

TEST_F(SimProcess, HangUpSignalRemovesTheLink) {
    QTemporaryDir dir;
    const QString link = dir.path() + QStringLiteral("/projector");
    if (!start({QStringLiteral("--link"), link}))
        GTEST_SKIP() << "the simulator cannot run here";
    ASSERT_TRUE(QFileInfo(link).isSymLink());
    ::kill(pid_t(sim_.processId()), SIGHUP);
    ASSERT_TRUE(sim_.waitForFinished(5000));
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

// The fault changes while the simulator runs: the next one on SIGUSR1, none on SIGUSR2.
TEST_F(SimProcess, SignalsChangeTheFaultWhileItRuns) {
    if (!start({QStringLiteral("--trace")}))
        GTEST_SKIP() << "the simulator cannot run here";
    device_ = ::open(path_.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(device_, 0);
    termios raw{};
    tcgetattr(device_, &raw);
    cfmakeraw(&raw);
    tcsetattr(device_, TCSANOW, &raw);
    // The status read's reply, up to its carriage return.
    const auto status = [&] {
        [[maybe_unused]] const ssize_t n = ::write(device_, "CR0\r", 4);
        std::string reply;
        pollfd fd{device_, POLLIN, 0};
        while (reply.find('\r') == std::string::npos && ::poll(&fd, 1, 2000) > 0) {
            char buffer[16];
            const ssize_t got = ::read(device_, buffer, sizeof buffer);
            if (got > 0)
                reply.append(buffer, std::size_t(got));
        }
        return reply;
    };
    // The trace's next line other than the commands it received.
    const auto traced = [&] {
        QByteArray line;
        (void)QTest::qWaitFor(
            [&] {
                while (sim_.canReadLine()) {
                    line = sim_.readLine().trimmed();
                    if (line.startsWith("fault "))
                        return true;
                }
                return false;
            },
            5000);
        return line.toStdString();
    };
    EXPECT_EQ(status(), "80\r");
    const struct {
        int signal;
        const char* trace;
        const char* reply;
    } rows[] = {
        {SIGUSR1, "fault temp", "08\r"},  {SIGUSR1, "fault lamp", "21\r"},
        {SIGUSR1, "fault power", "10\r"}, {SIGUSR1, "fault none", "80\r"},
        {SIGUSR1, "fault temp", "08\r"},  {SIGUSR2, "fault none", "80\r"},
    };
    for (const auto& row : rows) {
        ::kill(pid_t(sim_.processId()), row.signal);
        EXPECT_EQ(traced(), row.trace);
        EXPECT_EQ(status(), row.reply) << row.trace;
    }
    EXPECT_EQ(sim_.state(), QProcess::Running);
}

} // namespace
} // namespace trv
