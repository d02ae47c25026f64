#include "link/QtSerialPort.h"
#include "link/ArrivalGatherer.h"
#include "link/ProjectorLink.h"
#include "link/QtClock.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

namespace trv {
namespace {

// The far end of a pseudo-terminal, reached by the program as COM9.
class PseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            GTEST_SKIP() << "pseudo-terminals are unavailable here";
        ::close(slave);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        qputenv("ZEKO_COM9", name);
    }
    void TearDown() override {
        if (master_ >= 0)
            ::close(master_);
        qunsetenv("ZEKO_COM9");
    }

    // Runs the event loop until `done` holds or a generous deadline passes.
    template <typename Done> bool spinUntil(Done done, int ms = 5000) {
        QDeadlineTimer deadline(ms);
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

    std::string readFarEnd(std::size_t count) {
        std::string received;
        spinUntil([&] {
            char buffer[256];
            pollfd fd{master_, POLLIN, 0};
            if (poll(&fd, 1, 0) > 0) {
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n > 0)
                    received.append(buffer, static_cast<std::size_t>(n));
            }
            return received.size() >= count;
        });
        return received;
    }

    int master_ = -1;
};

TEST_F(PseudoTerminal, TransmissionArrivesWholeAndRepliesRaiseCommEvents) {
    QtSerialPort port;
    port.setPortNumber(9);
    port.setSettings(QStringLiteral("9600,N,8,1"));
    const SerialPort::OpenResult result = port.open();
    ASSERT_TRUE(result.ok) << result.reason.toStdString();
    ASSERT_TRUE(port.write("A001CR0\r"));
    EXPECT_EQ(readFarEnd(8), "A001CR0\r");

    QSignalSpy events(&port, &SerialPort::commEvent);
    const char reply[] = "00\r";
    ASSERT_EQ(::write(master_, reply, 3), 3);
    std::string got;
    spinUntil([&] {
        got += port.readAll();
        return got.size() >= 3;
    });
    EXPECT_EQ(got, "00\r");
    EXPECT_GE(events.count(), 1);
    EXPECT_EQ(events.first().first().toInt(), SerialPort::kCharactersReceived);
}

TEST_F(PseudoTerminal, ClosingTheFarEndClosesThePortOnceWithoutAStorm) {
    QtSerialPort port;
    port.setPortNumber(9);
    ASSERT_TRUE(port.open().ok);
    QSignalSpy lost(&port, &SerialPort::linkLost);
    QSignalSpy events(&port, &SerialPort::commEvent);
    ::close(master_);
    master_ = -1;
    EXPECT_TRUE(spinUntil([&] { return !port.isOpen(); }));
    // Let the loop turn for a while: no further reports arrive once the port is closed.
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    EXPECT_EQ(lost.count(), 1);
    EXPECT_LT(events.count(), 10);
    EXPECT_FALSE(port.write("C00\r"));
    EXPECT_EQ(port.readAll(), "");
}

TEST_F(PseudoTerminal, FirstArrivalAfterAQuietLineGoesOnWithoutWaitingForTheWindow) {
    QtSerialPort port;
    port.setPortNumber(9);
    ASSERT_TRUE(port.open().ok);
    for (int round = 0; round < 2; ++round) { // a quiet line again after the first window
        bool windowPassed = false, arrivedFirst = false;
        QTimer::singleShot(ArrivalGatherer::kWindowMs, [&] { windowPassed = true; });
        const auto connection = QObject::connect(&port, &SerialPort::commEvent, &port, [&] {
            if (!windowPassed)
                arrivedFirst = true;
        });
        ASSERT_EQ(::write(master_, "0", 1), 1);
        ASSERT_TRUE(spinUntil([&] { return windowPassed; }));
        EXPECT_TRUE(arrivedFirst) << "round " << round;
        EXPECT_EQ(port.readAll(), "0");
        QObject::disconnect(connection);
        spinUntil([] { return false; }, 3 * ArrivalGatherer::kWindowMs);
    }
}

TEST_F(PseudoTerminal, ReplySplitOverAGatheredFloodDecodesAsOneReplyWould) {
    const std::string reply = "01234\r";
    // What the link shows when the reply comes in one piece.
    testing::FakeSerialPort fake;
    testing::ManualClock manual;
    ProjectorLink reference(fake, manual);
    fake.open();
    reference.commandText = "CR3\r";
    reference.Hyouji(reference.commandText, 1);
    fake.deliver(reply);

    QtSerialPort port;
    QtClock clock;
    ProjectorLink link(port, clock);
    port.setPortNumber(9);
    ASSERT_TRUE(port.open().ok);
    QSignalSpy events(&port, &SerialPort::commEvent);
    link.commandText = "CR3\r";
    ASSERT_TRUE(link.Hyouji(link.commandText, 1));
    std::thread writer([&] {
        for (char c : reply) {
            [[maybe_unused]] const ssize_t n = ::write(master_, &c, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    const bool whole = spinUntil([&] { return link.display().rx == reference.display().rx; });
    writer.join();
    EXPECT_TRUE(whole) << link.display().rx;
    EXPECT_EQ(link.display().status, reference.display().status);
    EXPECT_FALSE(reference.display().status.empty());
    EXPECT_LT(events.count(), int(reply.size())); // gathered, not one event a character
}

TEST(PortMap, MissingDeviceGivesAReason) {
    qputenv("ZEKO_COM14", "/dev/trv-no-such-device");
    QtSerialPort port;
    port.setPortNumber(14);
    const SerialPort::OpenResult result = port.open();
    qunsetenv("ZEKO_COM14");
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.reason.contains(QLatin1String("No such device")))
        << result.reason.toStdString();
    EXPECT_FALSE(port.isOpen());
}

} // namespace
} // namespace trv
