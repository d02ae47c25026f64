// The Windows serial line; the tests on a port need $TRV_TEST_COM, wired to a pseudo-terminal.
#include "link/transport/WinSerialLine.h"
#include "link/transport/WinSerialDevice.h"
#include "support/FarEnd.h"
#include "support/Spin.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <string>
#include <utility>

namespace trv {
namespace {

using testing::spinUntil;

TEST(WinSerialLineTest, PortNamesOpenTheirDevicePath) {
    const struct {
        const char* name;
        const char* path;
    } rows[] = {{"COM3", R"(\\.\COM3)"},
                {"com12", R"(\\.\COM12)"},
                {R"(\\.\COM12)", R"(\\.\COM12)"},
                {R"(\\.\com4)", R"(\\.\COM4)"},
                {R"(\\.\pipe\line)", R"(\\.\pipe\line)"},
                {"COMX", "COMX"}};
    for (const auto& row : rows)
        EXPECT_EQ(WinSerialLine::devicePath(QString::fromLatin1(row.name)),
                  QString::fromLatin1(row.path))
            << row.name;
}

TEST(WinSerialLineTest, OpenFailuresSayWhy) {
    const struct {
        DWORD error;
        const char* reason;
    } rows[] = {{ERROR_ACCESS_DENIED, "busy: in use by another program"},
                {ERROR_SHARING_VIOLATION, "busy: in use by another program"},
                {ERROR_FILE_NOT_FOUND, "no such port; is the adapter plugged in?"},
                {ERROR_PATH_NOT_FOUND, "no such port; is the adapter plugged in?"}};
    for (const auto& row : rows)
        EXPECT_EQ(WinSerialLine::describeOpenFailure(row.error), QString::fromLatin1(row.reason))
            << row.error;
    // Any other error in the system's words.
    EXPECT_FALSE(WinSerialLine::describeOpenFailure(ERROR_GEN_FAILURE).isEmpty());
}

TEST(WinSerialLineTest, MissingPortIsNotFound) {
    WinSerialLine line(QStringLiteral("com250"));
    const SerialPort::OpenResult result = line.open(LineSettings{});
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.reason.toStdString(), "no such port; is the adapter plugged in?");
    EXPECT_FALSE(line.io().isOpen());
}

// The device over the near end of a pipe, which reads and writes as a serial handle does; the
// test is the far end.
class WinSerialDeviceTest : public ::testing::Test {
protected:
    static constexpr DWORD kChunk = 8;

    void SetUp() override {
        static int count = 0;
        const std::wstring name = L"\\\\.\\pipe\\trv-line-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++count);
        const HANDLE nearEnd =
            CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(nearEnd, INVALID_HANDLE_VALUE);
        farHandle_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(farHandle_, INVALID_HANDLE_VALUE);
        far_ = testing::FarEnd(farHandle_);
        device_.setReadChunk(kChunk);
        device_.attach(nearEnd);
    }
    void TearDown() override {
        device_.close();
        if (farHandle_ != INVALID_HANDLE_VALUE)
            CloseHandle(farHandle_);
    }

    WinSerialDevice device_;
    HANDLE farHandle_ = INVALID_HANDLE_VALUE;
    testing::FarEnd far_{INVALID_HANDLE_VALUE};
};

TEST_F(WinSerialDeviceTest, ArrivalsAreReadInOrder) {
    QSignalSpy ready(&device_, &QIODevice::readyRead);
    ASSERT_TRUE(far_.write("40\r"));
    ASSERT_TRUE(spinUntil([&] { return device_.bytesAvailable() >= 3; }));
    ASSERT_TRUE(far_.write("80\r"));
    ASSERT_TRUE(spinUntil([&] { return device_.bytesAvailable() >= 6; }));
    EXPECT_EQ(device_.readAll(), QByteArray("40\r80\r"));
    EXPECT_GE(ready.count(), 1);
}

TEST_F(WinSerialDeviceTest, ReadLimitHoldsBackUntilLifted) {
    device_.setReadLimit(4);
    const std::string flood(200, 'x');
    ASSERT_TRUE(far_.write(flood));
    ASSERT_TRUE(spinUntil([&] { return device_.bytesAvailable() >= 4; }));
    // Another turn or two of the loop takes no more than the read already asked for.
    spinUntil([] { return false; }, 100);
    EXPECT_LE(device_.bytesAvailable(), 4 + kChunk);
    device_.setReadLimit(0);
    ASSERT_TRUE(spinUntil([&] { return device_.bytesAvailable() >= 200; }));
    EXPECT_EQ(device_.readAll().toStdString(), flood);
}

TEST_F(WinSerialDeviceTest, WritesReachTheFarEnd) {
    QSignalSpy written(&device_, &QIODevice::bytesWritten);
    ASSERT_EQ(device_.write("C00\r"), 4);
    ASSERT_EQ(device_.write("CR0\r"), 4);
    EXPECT_EQ(far_.read(8), "C00\rCR0\r");
    ASSERT_TRUE(spinUntil([&] { return device_.bytesToWrite() == 0; }));
    qint64 sent = 0;
    for (const QList<QVariant>& signal : written)
        sent += signal.at(0).toLongLong();
    EXPECT_EQ(sent, 8);
}

TEST_F(WinSerialDeviceTest, FarEndGoneFailsOnceAfterWhatCameBefore) {
    QSignalSpy failed(&device_, &WinSerialDevice::failed);
    ASSERT_TRUE(far_.write("20\r"));
    ASSERT_TRUE(spinUntil([&] { return device_.bytesAvailable() >= 3; }));
    CloseHandle(std::exchange(farHandle_, INVALID_HANDLE_VALUE));
    ASSERT_TRUE(spinUntil([&] { return failed.count() > 0; }));
    device_.fetch();
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).value<DWORD>(), DWORD(ERROR_BROKEN_PIPE));
    EXPECT_EQ(device_.readAll(), QByteArray("20\r"));
    EXPECT_EQ(device_.write("C00\r"), -1);
    device_.close();
    device_.close();
    EXPECT_FALSE(device_.isOpen());
}

class WinSerialLineOnPort : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = qEnvironmentVariable("TRV_TEST_COM");
        if (port_.isEmpty())
            GTEST_SKIP() << "TRV_TEST_COM names no port wired to a pseudo-terminal";
    }

    QString port_;
};

TEST_F(WinSerialLineOnPort, SecondOpenIsRefusedAsInUse) {
    WinSerialLine first(port_);
    ASSERT_TRUE(first.open(LineSettings{}).ok);
    WinSerialLine second(port_);
    const SerialPort::OpenResult result = second.open(LineSettings{});
    if (result.ok)
        GTEST_SKIP() << "this system lets a serial port be opened twice";
    EXPECT_TRUE(result.reason.startsWith(QStringLiteral("busy: "))) << result.reason.toStdString();
}

TEST_F(WinSerialLineOnPort, CommandGoesOutWhole) {
    WinSerialLine line(port_);
    ASSERT_TRUE(line.open(LineSettings{}).ok);
    QSignalSpy written(&line.io(), &QIODevice::bytesWritten);
    QSignalSpy lost(&line, &LineDevice::lost);
    ASSERT_EQ(line.io().write("C00\r"), 4);
    line.flush();
    qint64 sent = 0;
    spinUntil([&] {
        sent = 0;
        for (const QList<QVariant>& signal : written)
            sent += signal.at(0).toLongLong();
        return sent >= 4;
    });
    EXPECT_EQ(sent, 4);
    EXPECT_EQ(line.io().bytesToWrite(), 0);
    // A quiet line has nothing to give, and is not lost for it.
    line.fetch();
    EXPECT_EQ(line.io().bytesAvailable(), 0);
    EXPECT_EQ(lost.count(), 0);
    line.close();
    line.close();
    EXPECT_FALSE(line.io().isOpen());
}

} // namespace
} // namespace trv
