#include "windows/panel/PanelInstance.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace trv {
namespace {

class PanelInstanceTest : public ::testing::Test {
protected:
    QString lockFile() const {
        return dir_.path() + QStringLiteral("/profiles/.Room 12.panel.lock");
    }

    QTemporaryDir dir_;
    testing::FakeMessageBox firstBox_, secondBox_;
};

TEST_F(PanelInstanceTest, SecondPanelIsToldTheProfileIsOpenAndQuits) {
    PanelInstance first(lockFile());
    ASSERT_TRUE(first.enter(firstBox_, QStringLiteral("Room 12")));
    EXPECT_TRUE(firstBox_.shown.empty());

    PanelInstance second(lockFile());
    secondBox_.answer = false;
    EXPECT_FALSE(second.enter(secondBox_, QStringLiteral("Room 12")));
    ASSERT_EQ(secondBox_.shown.size(), 1u);
    EXPECT_EQ(secondBox_.shown[0].text,
              QStringLiteral("The panel of the profile \"Room 12\" is already open."));
    EXPECT_EQ(secondBox_.shown[0].detail, QStringLiteral("Bring it to the front|Quit"));
}

TEST_F(PanelInstanceTest, SecondPanelBringsTheFirstForward) {
    PanelInstance first(lockFile());
    ASSERT_TRUE(first.enter(firstBox_, QStringLiteral("Room 12")));
    QSignalSpy forward(&first, &PanelInstance::forwardRequested);

    PanelInstance second(lockFile());
    secondBox_.answer = true;
    EXPECT_FALSE(second.enter(secondBox_, QStringLiteral("Room 12")));
    EXPECT_TRUE(forward.wait(5000));
}

TEST_F(PanelInstanceTest, LockLeftByAPanelThatDiedIsTakenOver) {
    QProcess gone;
    gone.start(QStringLiteral("true"), {});
    ASSERT_TRUE(gone.waitForStarted(5000));
    const qint64 pid = gone.processId();
    ASSERT_TRUE(gone.waitForFinished(5000));
    ASSERT_TRUE(QDir().mkpath(dir_.path() + QStringLiteral("/profiles")));
    QFile left(lockFile());
    ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    left.write(QStringLiteral("%1\n%2\n%3\n")
                   .arg(pid)
                   .arg(QCoreApplication::applicationName(), QSysInfo::machineHostName())
                   .toUtf8());
    left.close();

    PanelInstance panel(lockFile());
    EXPECT_TRUE(panel.enter(firstBox_, QStringLiteral("Room 12")));
    EXPECT_TRUE(firstBox_.shown.empty());
}

} // namespace
} // namespace trv
