// The panel through a real serial device server: ser2net on the loopback in front of trv-sim,
// once as a raw TCP accepter and once speaking RFC 2217.
#include "support/LoopbackServer.h"
#include "support/PanelOnServer.h"
#include "windows/settings/Form2.h"

#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace trv {
namespace {

struct ServerKind {
    const char* name;
    const char* accepter; // ser2net's accepter before "tcp,..."
    const char* scheme;   // what the port map says
};

void PrintTo(const ServerKind& kind, std::ostream* os) { *os << kind.name; }

class DeviceServer : public testing::PanelOnServer,
                     public ::testing::WithParamInterface<ServerKind> {
protected:
    // trv-sim, ser2net in front of it with the accepter `accepter`, and the panel with COM3
    // mapped to `scheme`://127.0.0.1:port. False when this machine cannot run them.
    bool start() {
        return start(QString::fromLatin1(GetParam().accepter),
                     QString::fromLatin1(GetParam().scheme));
    }
    bool start(const QString& accepter, const QString& scheme) {
        if (!testing::Ser2net::available() || !startSimulator() ||
            !server_.start(dir_.path(), device_, accepter))
            return false;
        port_ = server_.port();
        startPanel({{"ComPort", "3"},
                    {"BaudRate", "96"},
                    {"Ports/COM3", QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port_)}});
        return true;
    }
    speed_t deviceSpeed() const {
        const int fd = ::open(device_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios attributes{};
        tcgetattr(fd, &attributes);
        ::close(fd);
        return cfgetospeed(&attributes);
    }

    quint16 port_ = 0;
};

#define START()                                                                                    \
    if (!start())                                                                                  \
    GTEST_SKIP() << "ser2net, pseudo-terminals or the simulator are unavailable here"

TEST_P(DeviceServer, CommandsRepliesAndHoldsAsOnALocalLine) {
    START();
    click("Command13");
    EXPECT_EQ(received(), "C89");
    ASSERT_TRUE(shows("Label12", QStringLiteral("  [ACK] "))); // the answer, back through it
    click("Command46");
    EXPECT_TRUE(shows("Label25", QStringLiteral("   1 2 3 4   Hour Use")));
    EXPECT_EQ(received(), "CR3");
    QPushButton* zoomUp = form_->findChild<QPushButton*>(QStringLiteral("Command30"));
    QElapsedTimer held;
    held.start();
    QTest::mousePress(zoomUp, Qt::LeftButton);
    QTest::qWait(1000);
    QTest::mouseRelease(zoomUp, Qt::LeftButton);
    const qint64 heldMs = held.elapsed();
    const QByteArray first = received();
    int sends = 1;
    while (QTest::qWaitFor([&] { return sim_.canReadLine(); }, 400)) {
        EXPECT_EQ(sim_.readLine().trimmed(), first);
        ++sends;
    }
    // One at the press and one at each 100 ms tick while held, however late the ticks come on
    // a busy machine; the 400 ms of quiet above are the proof that none follows the release.
    EXPECT_EQ(first, "C47");
    EXPECT_GE(sends, 2);
    EXPECT_LE(sends, 2 + heldMs / 100);
}

TEST_P(DeviceServer, ServerStoppingClosesThePortOnce) {
    START();
    ASSERT_TRUE(serial_.isOpen());
    QSignalSpy lost(&serial_, &SerialPort::linkLost);
    server_.process().terminate();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !serial_.isOpen(); }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(lost.count(), 1);
    click("Command44"); // refused quietly
    EXPECT_EQ(label("Label11"), QString());
}

TEST_P(DeviceServer, CtlSendsAndReadsThroughTheServer) {
    START();
    form_.reset(); // the command line alone on the server
    const QString port =
        QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(GetParam().scheme)).arg(port_);
    const auto run = [&](const QStringList& args) {
        QProcess ctl;
        ctl.start(QStringLiteral(TRV_CTL_PATH), QStringList{QStringLiteral("--port"), port} + args);
        EXPECT_TRUE(ctl.waitForFinished(10000));
        EXPECT_EQ(ctl.exitCode(), 0) << ctl.readAllStandardError().toStdString();
        return ctl.readAllStandardOutput();
    };
    EXPECT_EQ(run({"read", "lamp", "--baud", "9600"}), "   1 2 3 4   Hour Use\n");
    EXPECT_EQ(received(), "CR3");
    EXPECT_EQ(run({"send", "C89"}), "TxD: C 8 9  [CR] \nRxD:  [ACK] \n");
    EXPECT_EQ(received(), "C89");
    EXPECT_TRUE(run({"hold", "C30", "0.3"}).startsWith("sent C30 3 times"));
}

INSTANTIATE_TEST_SUITE_P(Servers, DeviceServer,
                         ::testing::Values(ServerKind{"Raw", "", "tcp"},
                                           ServerKind{"Rfc2217", "telnet(rfc2217),", "rfc2217"}),
                         [](const auto& info) { return std::string(info.param.name); });

class Rfc2217Server : public DeviceServer {};

TEST_F(Rfc2217Server, DialogSpeedReachesTheDeviceBehindTheServer) {
    if (!start(QStringLiteral("telnet(rfc2217),"), QStringLiteral("rfc2217")))
        GTEST_SKIP() << "ser2net, pseudo-terminals or the simulator are unavailable here";
    EXPECT_TRUE(QTest::qWaitFor([&] { return deviceSpeed() == B9600; }, 5000));
    for (const auto& [option, speed] :
         {std::pair{"Option2", speed_t(B19200)}, std::pair{"Option1", speed_t(B9600)}}) {
        click("Command33");
        Form2* dialog = form_->settingsDialog();
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QRadioButton*>(QString::fromLatin1(option))->click();
        dialog->Command1_Click();
        ASSERT_TRUE(serial_.isOpen());
        EXPECT_TRUE(QTest::qWaitFor([&] { return deviceSpeed() == speed; }, 5000)) << option;
    }
    click("Command44");
    EXPECT_EQ(received(), "CR0");
}

class DeviceServerMissing : public testing::PanelOnServer {};

TEST_F(DeviceServerMissing, NobodyListeningGivesRetryWithTheReason) {
    startPanel({{"Ports/COM3",
                 QStringLiteral("tcp://127.0.0.1:%1").arg(testing::LoopbackServer::freePort())}});
    chooseCom3(); // nothing stored: the dialog
    EXPECT_FALSE(serial_.isOpen());
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, "Retry Comport");
    EXPECT_TRUE(messages_.shown[0].detail.contains(QLatin1String("refused")))
        << messages_.shown[0].detail.toStdString();
}

} // namespace
} // namespace trv
