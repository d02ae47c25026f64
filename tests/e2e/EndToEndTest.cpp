// The program's own windows, serial port and timers against trv-sim on a pseudo-terminal.
#include "link/clock/QtClock.h"
#include "link/transport/DevicePort.h"
#include "support/Fakes.h"
#include "windows/panel/Form1.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace trv {
namespace {

class EndToEnd : public ::testing::Test {
protected:
    void TearDown() override {
        form_.reset();
        if (sim_.state() != QProcess::NotRunning) {
            sim_.terminate();
            sim_.waitForFinished(5000);
        }
        qunsetenv("ZEKO_COM1");
    }

    // Starts the simulator with `options` and the panel on it; false when it cannot run here.
    bool start(const QStringList& options) {
        if (!QFile::exists(QStringLiteral("/dev/ptmx")))
            return false;
        sim_.start(QStringLiteral(TRV_SIM_PATH), QStringList{QStringLiteral("--trace")} + options);
        if (!sim_.waitForStarted(5000) || !waitForLine())
            return false;
        const QByteArray device = sim_.readLine().trimmed();
        qputenv("ZEKO_COM1", device);
        store_.values = {{"ComPort", "1"}, {"BaudRate", "96"}};
        form_ = std::make_unique<Form1>(Platform{serial_, store_, clock_, messages_}, values_);
        form_->start();
        return serial_.isOpen();
    }

    bool waitForLine() {
        return QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000);
    }
    // The next command the simulator received.
    QByteArray received() {
        if (!sim_.canReadLine() && !waitForLine())
            return "(nothing)";
        return sim_.readLine().trimmed();
    }
    void click(const char* name) {
        form_->findChild<QPushButton*>(QString::fromLatin1(name))->click();
    }
    QString label(const char* name) const {
        return form_->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    // Waits, with a generous deadline, until the label shows `text`.
    bool shows(const char* name, const QString& text) {
        return QTest::qWaitFor([&] { return label(name) == text; }, 5000);
    }

    QProcess sim_;
    DevicePort serial_;
    QtClock clock_;
    testing::FakeSettingsStore store_;
    testing::FakeMessageBox messages_;
    PortValues values_;
    std::unique_ptr<Form1> form_;
};

#define START(...)                                                                                 \
    if (!start(__VA_ARGS__))                                                                       \
    GTEST_SKIP() << "pseudo-terminals or the simulator are unavailable here"

TEST_F(EndToEnd, ButtonsReachTheSimulatorExactly) {
    START({});
    click("Command13");
    EXPECT_EQ(received(), "C89");
    click("Command68");
    EXPECT_EQ(received(), "CF LAMPMODE LAMP1");
    form_->findChild<QRadioButton*>(QStringLiteral("Option2"))->click();
    click("Command27");
    EXPECT_EQ(received(), "AFFFC05");
}

TEST_F(EndToEnd, PowerOnCountsDownThenShowsPowerOn) {
    START({QStringLiteral("--warmup"), QStringLiteral("1")});
    click("Command17");
    ASSERT_TRUE(shows("Label12", QStringLiteral("  [ACK] "))); // the acknowledgement first
    click("Command44");
    EXPECT_TRUE(shows("Label25", QStringLiteral(" Count down")));
    QTest::qWait(1200); // the simulator's warm-up
    click("Command44");
    EXPECT_TRUE(shows("Label25", QStringLiteral(" Power ON")));
}

TEST_F(EndToEnd, ReadsAreDecoded) {
    START({QStringLiteral("--lamp-hours"), QStringLiteral("1234")});
    click("Command46");
    EXPECT_TRUE(shows("Label25", QStringLiteral("   1 2 3 4   Hour Use")));
    click("Command54");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return label("Label25").count(QStringLiteral(" deg C ")) == 3; }, 5000));
    click("Command47");
    EXPECT_TRUE(shows("Label25", QStringLiteral(" Normally")));
    click("Command45");
    EXPECT_TRUE(shows("Label25", QStringLiteral(" Input 1")));
}

TEST_F(EndToEnd, SplitRepliesStillDecode) {
    START({QStringLiteral("--split")});
    click("Command46");
    EXPECT_TRUE(shows("Label25", QStringLiteral("   1 2 3 4   Hour Use")));
}

TEST_F(EndToEnd, SilentLineIsMarked) {
    START({QStringLiteral("--silent")});
    click("Command44");
    EXPECT_TRUE(shows("Label12", QStringLiteral(" X X X X ")));
    EXPECT_TRUE(shows("Label12", QString()));
}

TEST_F(EndToEnd, AnotherUnitsAddressGetsNoReply) {
    START({QStringLiteral("--id"), QStringLiteral("1")});
    form_->findChild<QRadioButton*>(QStringLiteral("Option4"))->click();
    click("Command44");
    EXPECT_EQ(received(), "A002CR0");
    EXPECT_TRUE(shows("Label12", QStringLiteral(" X X X X ")));
}

TEST_F(EndToEnd, UnpluggedInTheMiddleOfAHold) {
    START({QStringLiteral("--hangup-after"), QStringLiteral("0.6")});
    QSignalSpy lost(&serial_, &SerialPort::linkLost);
    QPushButton* zoomUp = form_->findChild<QPushButton*>(QStringLiteral("Command30"));
    QTest::mousePress(zoomUp, Qt::LeftButton);
    ASSERT_EQ(form_->holdBusy(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form_->holdBusy() == 0; }, 5000));
    EXPECT_FALSE(serial_.isOpen());
    EXPECT_FALSE(form_->timer1().isEnabled());
    // The event loop stays free: a zero timer comes round at once, again and again.
    QElapsedTimer responsive;
    responsive.start();
    for (int i = 0; i < 20; ++i) {
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return ran; }, 1000));
    }
    EXPECT_LT(responsive.elapsed(), 2000);
    EXPECT_EQ(lost.count(), 1);
    QTest::mouseRelease(zoomUp, Qt::LeftButton);
}

TEST_F(EndToEnd, HangUpClosesThePortOnceAndTheProgramGoesOn) {
    START({QStringLiteral("--hangup-after"), QStringLiteral("0.5")});
    QSignalSpy lost(&serial_, &SerialPort::linkLost);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !serial_.isOpen(); }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(lost.count(), 1);
    click("Command44"); // refused quietly
    EXPECT_EQ(label("Label11"), QString());
    QTest::mousePress(form_->findChild<QPushButton*>(QStringLiteral("Command30")), Qt::LeftButton);
    QTest::qWait(250);
    QTest::mouseRelease(form_->findChild<QPushButton*>(QStringLiteral("Command30")),
                        Qt::LeftButton);
    EXPECT_EQ(form_->holdBusy(), 0);
}

} // namespace
} // namespace trv
