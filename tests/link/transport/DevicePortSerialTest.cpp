// The port on a local device: the far end of a pseudo-terminal, reached as COM9.
#include "link/ProjectorLink.h"
#include "link/clock/QtClock.h"
#include "link/transport/DevicePort.h"
#include "support/Fakes.h"
#include "support/FarEnd.h"
#include "support/Spin.h"

#include <QCoreApplication>
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

using testing::spinUntil;

class PseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            GTEST_SKIP() << "pseudo-terminals are unavailable here";
        ::close(slave);
        far_ = testing::FarEnd(master_);
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        qputenv("ZEKO_COM9", name);
        port_.setPortNumber(9);
    }
    void TearDown() override {
        port_.close();
        if (master_ >= 0)
            ::close(master_);
        qunsetenv("ZEKO_COM9");
    }

    int master_ = -1;
    testing::FarEnd far_{-1};
    DevicePort port_;
};

TEST_F(PseudoTerminal, TransmissionArrivesWholeAndRepliesRaiseCommEvents) {
    const SerialPort::OpenResult result = port_.open();
    ASSERT_TRUE(result.ok) << result.reason.toStdString();
    ASSERT_TRUE(port_.write("A001CR0\r"));
    EXPECT_EQ(far_.read(8), "A001CR0\r");

    QSignalSpy events(&port_, &SerialPort::commEvent);
    ASSERT_TRUE(far_.write("00\r"));
    ASSERT_TRUE(spinUntil([&] { return events.count() > 0; }));
    EXPECT_EQ(events.first().first().toInt(), SerialPort::kCharactersReceived);
    std::string got;
    spinUntil([&] {
        got += port_.readAll();
        return got.size() >= 3;
    });
    EXPECT_EQ(got, "00\r");
}

TEST_F(PseudoTerminal, ClosingTheFarEndClosesThePortOnceWithoutAStorm) {
    ASSERT_TRUE(port_.open().ok);
    QSignalSpy lost(&port_, &SerialPort::linkLost);
    QSignalSpy events(&port_, &SerialPort::commEvent);
    ::close(master_);
    master_ = -1;
    EXPECT_TRUE(spinUntil([&] { return !port_.isOpen(); }));
    // Let the loop turn for a while: no further reports arrive once the port is closed.
    for (int i = 0; i < 50; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    ASSERT_EQ(lost.count(), 1);
    EXPECT_EQ(lost.first().first().toString(), "the line hung up");
    EXPECT_LT(events.count(), 10);
    EXPECT_FALSE(port_.write("C00\r"));
    EXPECT_EQ(port_.readAll(), "");
}

TEST_F(PseudoTerminal, FirstArrivalAfterAQuietLineGoesOnWithoutWaitingForTheWindow) {
    ASSERT_TRUE(port_.open().ok);
    for (int round = 0; round < 2; ++round) { // a quiet line again after the first window
        bool windowPassed = false, arrivedFirst = false;
        QTimer::singleShot(DevicePort::kWindowMs, [&] { windowPassed = true; });
        const auto connection = QObject::connect(&port_, &SerialPort::commEvent, &port_, [&] {
            if (!windowPassed)
                arrivedFirst = true;
        });
        ASSERT_TRUE(far_.write("0"));
        ASSERT_TRUE(spinUntil([&] { return windowPassed; }));
        EXPECT_TRUE(arrivedFirst) << "round " << round;
        EXPECT_EQ(port_.readAll(), "0");
        QObject::disconnect(connection);
        spinUntil([] { return false; }, 3 * DevicePort::kWindowMs);
    }
}

// A command sent while a window runs is answered at once, not when the window ends.
TEST_F(PseudoTerminal, ReplyToACommandSentInsideAWindowGoesOnAtOnce) {
    ASSERT_TRUE(port_.open().ok);
    std::vector<std::string> order;
    QTimer windowMostlyOver;
    windowMostlyOver.setSingleShot(true);
    QObject::connect(&windowMostlyOver, &QTimer::timeout, &port_,
                     [&] { order.push_back("40 ms"); });
    QObject::connect(&port_, &SerialPort::commEvent, &port_, [&] {
        const std::string reply = port_.readAll();
        order.push_back(reply);
        if (reply == "first") { // the window begins: the next command goes out inside it
            windowMostlyOver.start(40);
            ASSERT_TRUE(port_.write("CR0\r"));
            ASSERT_TRUE(far_.write("second"));
        }
    });
    ASSERT_TRUE(far_.write("first"));
    ASSERT_TRUE(spinUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "40 ms"}));
}

TEST_F(PseudoTerminal, HangUpInsideAWindowDeliversEveryByteReadBeforeIt) {
    ASSERT_TRUE(port_.open().ok);
    std::string delivered;
    std::vector<std::string> order;
    QObject::connect(&port_, &SerialPort::commEvent, &port_, [&] { delivered += port_.readAll(); });
    QObject::connect(&port_, &SerialPort::linkLost, &port_, [&](const QString& reason) {
        order.push_back(delivered + " then " + reason.toStdString());
    });
    ASSERT_TRUE(far_.write("a"));
    ASSERT_TRUE(spinUntil([&] { return delivered == "a"; })); // a window begins
    ASSERT_TRUE(far_.write("bc"));
    spinUntil([] { return false; }, 10);
    ::close(master_);
    master_ = -1;
    ASSERT_TRUE(spinUntil([&] { return !order.empty(); }));
    // Inside the window the port takes one character of what comes and leaves the rest in the
    // terminal, whose hang-up discards it: what was taken goes out before the loss.
    EXPECT_EQ(order, std::vector<std::string>{"ab then the line hung up"});
}

// Bytes that cross a send: a reply to the first command that is still being gathered when the
// second goes out is the first's, and the second, unanswered, is marked as such.
TEST_F(PseudoTerminal, ByteFromBeforeASendIsNotTheNextCommandsReply) {
    QtClock clock;
    ProjectorLink link(port_, clock);
    link.timer2().setInterval(300);
    link.timer4().setInterval(5000);
    ASSERT_TRUE(port_.open().ok);
    link.commandText = "C00\r";
    ASSERT_TRUE(link.Hyouji(link.commandText, 1));
    ASSERT_TRUE(far_.write("\x06"));
    ASSERT_TRUE(spinUntil([&] { return link.display().rx == "  [ACK] "; }));
    ASSERT_TRUE(far_.write("\r")); // held in the gathering window
    spinUntil([] { return false; }, 10);
    link.commandText = "CR1\r";
    ASSERT_TRUE(link.Hyouji(link.commandText, 1));
    EXPECT_EQ(far_.read(8), "C00\rCR1\r");
    EXPECT_TRUE(spinUntil([&] { return !link.timer2().isEnabled(); }));
    EXPECT_EQ(link.display().rx, " X X X X ");
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

    QtClock clock;
    ProjectorLink link(port_, clock);
    ASSERT_TRUE(port_.open().ok);
    QSignalSpy events(&port_, &SerialPort::commEvent);
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

// The reason names the port as chosen and, whole, the device it opens.
TEST(PortMap, MissingDeviceGivesAReasonNamingThePortAndItsDevice) {
    qputenv("ZEKO_COM14", "/dev/trv-no-such-device");
    DevicePort port;
    port.setPortNumber(14);
    const SerialPort::OpenResult result = port.open();
    qunsetenv("ZEKO_COM14");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason, "COM14 (/dev/trv-no-such-device): no such device");
    EXPECT_FALSE(port.isOpen());
    // A device given by its path is named once.
    DevicePort given;
    given.setTarget(PortTarget::parse(QStringLiteral("/dev/trv-no-such-device")));
    EXPECT_EQ(given.open().reason, "/dev/trv-no-such-device: no such device");
}

} // namespace
} // namespace trv
