// Faults of the settings store and of serial devices, with real files, devices and processes.
#include "support/Helper.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace trv {
namespace {

using testing::runHelper;

// A settings folder of its own, open to the ordinary user the helper may run as.
class StoreFolder {
public:
    StoreFolder() {
        chmod(dir_.path().toLocal8Bit().constData(), 0777);
        QDir(dir_.path()).mkpath(QStringLiteral("ZEKO"));
        chmod(folder().toLocal8Bit().constData(), 0777);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
    }
    QString folder() const { return dir_.path() + QStringLiteral("/ZEKO"); }
    QString file() const { return folder() + QStringLiteral("/ZEKO.conf"); }
    void put(const QByteArray& content) const {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray content() const {
        QFile f(file());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }
    testing::HelperRun run(const QStringList& args, bool unprivileged = false) const {
        return runHelper(args, env_, unprivileged);
    }

private:
    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/trv-store-XXXXXX")};
    QProcessEnvironment env_;
};

struct DamagedRow {
    const char* name;
    QByteArray content;
    QString comPort; // what reading "ComPort" gives
};

void PrintTo(const DamagedRow& row, std::ostream* os) { *os << row.name; }

class DamagedStore : public ::testing::TestWithParam<DamagedRow> {};

TEST_P(DamagedStore, ReadsDefaultsOrWhatIsReadableAndSavesAfresh) {
    StoreFolder store;
    store.put(GetParam().content);
    const testing::HelperRun read = store.run({QStringLiteral("read"), QStringLiteral("ComPort")});
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_TRUE(read.output == GetParam().comPort) << read.output.left(80).toStdString();
    const testing::HelperRun write =
        store.run({QStringLiteral("write"), QStringLiteral("ADRESS"), QStringLiteral("A003")});
    EXPECT_EQ(write.exitCode, 0);
    // Saved afresh: the new value and whatever could be read before.
    EXPECT_EQ(store.run({QStringLiteral("read"), QStringLiteral("ADRESS")}).output, "A003");
    const testing::HelperRun again = store.run({QStringLiteral("read"), QStringLiteral("ComPort")});
    EXPECT_TRUE(again.output == GetParam().comPort) << again.output.left(80).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedStore,
    ::testing::Values(
        DamagedRow{"Empty", QByteArray(), "<default>"},
        DamagedRow{"Binary", QByteArray("\x00\xff\xfe\x01[\x00=\n\x80\x81", 11), "<default>"},
        DamagedRow{"Truncated", QByteArray("[StartUP]\nComPort=7\nBaudR"), "7"},
        DamagedRow{"TruncatedKey", QByteArray("[StartUP]\nComPo"), "<default>"},
        DamagedRow{"ByteOrderMark", QByteArray("\xef\xbb\xbf[StartUP]\nComPort=3\n"), "3"},
        DamagedRow{"NoNewline", QByteArray("[StartUP]\nComPort=12"), "12"},
        DamagedRow{"CommaInValue", QByteArray("[StartUP]\nComPort=3,x\n"), "3,x"},
        DamagedRow{"HugeLine", QByteArray("[StartUP]\nComPort=") + QByteArray(200000, '9'),
                   QString(200000, QLatin1Char('9'))}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StoreFaults, FolderWhereTheFileShouldBe) {
    StoreFolder store;
    QDir().mkpath(store.file());
    EXPECT_EQ(store.run({QStringLiteral("read"), QStringLiteral("ComPort")}).output, "<default>");
    EXPECT_EQ(store.run({QStringLiteral("write"), QStringLiteral("ComPort"), QStringLiteral("3")})
                  .exitCode,
              1);
    EXPECT_TRUE(QFileInfo(store.file()).isDir());
}

// Neither read nor written, and never opened: opening a FIFO would block the start.
TEST(StoreFaults, FileThatIsNotARegularFileIsLeftAlone) {
    StoreFolder store;
    const QByteArray fifo = (store.folder() + QStringLiteral("/fifo")).toLocal8Bit();
    ASSERT_EQ(mkfifo(fifo.constData(), 0666), 0);
    ASSERT_EQ(symlink(fifo.constData(), store.file().toLocal8Bit().constData()), 0);
    EXPECT_EQ(store.run({QStringLiteral("read"), QStringLiteral("ComPort")}).output, "<default>");
    const testing::HelperRun write =
        store.run({QStringLiteral("write"), QStringLiteral("ComPort"), QStringLiteral("3")});
    EXPECT_EQ(write.exitCode, 1);
    EXPECT_TRUE(write.output.contains(QLatin1String("not a regular file")))
        << write.output.toStdString();
    EXPECT_TRUE(QFileInfo(store.file()).isSymLink());
    struct stat info {};
    ASSERT_EQ(stat(fifo.constData(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// The file and a FIFO trade places all the while: whichever the helper meets, it reads the
// value or the defaults and never waits on the FIFO.
TEST(StoreFaults, FifoSwappedInWhileReadingNeverBlocks) {
    StoreFolder store;
    store.put("[StartUP]\nComPort=7\n");
    const QByteArray file = store.file().toLocal8Bit();
    const QByteArray fifo = (store.folder() + QStringLiteral("/fifo")).toLocal8Bit();
    ASSERT_EQ(mkfifo(fifo.constData(), 0666), 0);
    const auto swap = [&] {
        return renameat2(AT_FDCWD, file.constData(), AT_FDCWD, fifo.constData(), RENAME_EXCHANGE) ==
               0;
    };
    if (!swap())
        GTEST_SKIP() << "this file system cannot exchange two names";
    std::jthread swapper([&](std::stop_token stop) {
        while (!stop.stop_requested())
            swap();
    });
    for (int round = 0; round < 20; ++round) {
        const testing::HelperRun read =
            store.run({QStringLiteral("read"), QStringLiteral("ComPort")});
        ASSERT_TRUE(read.exitCode == 0 && (read.output == "7" || read.output == "<default>"))
            << "round " << round << ": exit " << read.exitCode << ", " << read.output.toStdString();
    }
}

// A file kept elsewhere and linked into place is read and saved where it lies; the link stays.
TEST(StoreFaults, LinkedFileIsReadAndSavedWhereItLies) {
    StoreFolder store;
    const QString kept = store.folder() + QStringLiteral("/kept.conf");
    QFile file(kept);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[StartUP]\nComPort=2\n");
    file.close();
    ASSERT_EQ(symlink(kept.toLocal8Bit().constData(), store.file().toLocal8Bit().constData()), 0);
    EXPECT_EQ(store.run({QStringLiteral("read"), QStringLiteral("ComPort")}).output, "2");
    EXPECT_EQ(store.run({QStringLiteral("write"), QStringLiteral("ADRESS"), QStringLiteral("A004")})
                  .exitCode,
              0);
    EXPECT_TRUE(QFileInfo(store.file()).isSymLink());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "[StartUP]\nADRESS=A004\nComPort=2\n");
}

TEST(StoreFaults, OversizedFileIsKeptAndNotRead) {
    StoreFolder store;
    const QByteArray big = QByteArray("[StartUP]\nComPort=2\n") + QByteArray(2 << 20, 'x');
    store.put(big);
    EXPECT_EQ(store.run({QStringLiteral("read"), QStringLiteral("ComPort")}).output, "<default>");
    const testing::HelperRun write =
        store.run({QStringLiteral("write"), QStringLiteral("ComPort"), QStringLiteral("3")});
    EXPECT_EQ(write.exitCode, 1);
    EXPECT_TRUE(write.output.contains(QLatin1String("1 MiB"))) << write.output.toStdString();
    EXPECT_EQ(store.content(), big);
}

TEST(StoreFaults, ReadOnlyFileOrFolderKeepsTheOldFileWhole) {
    const QString why = testing::unprivilegedUnavailable();
    if (!why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    StoreFolder store;
    const QByteArray old("[StartUP]\nComPort=2\nBaudRate=96\n");
    store.put(old);
    const QByteArray folder = store.folder().toLocal8Bit();
    const QByteArray file = store.file().toLocal8Bit();

    chmod(file.constData(), 0444);
    chmod(folder.constData(), 0555);
    const QStringList write{QStringLiteral("write"), QStringLiteral("ComPort"),
                            QStringLiteral("5")};
    EXPECT_EQ(store.run(write, true).exitCode, 1);
    EXPECT_EQ(store.content(), old);

    chmod(file.constData(), 0666); // the file itself writable, its folder not
    EXPECT_EQ(store.run(write, true).exitCode, 1);
    EXPECT_EQ(store.content(), old);
    EXPECT_EQ(store.run({QStringLiteral("read"), QStringLiteral("ComPort")}, true).output, "2");
    chmod(folder.constData(), 0777);
}

TEST(StoreFaults, KilledWhileSavingNeverLeavesADamagedFile) {
    StoreFolder store;
    store.put("[StartUP]\nComPort=4\n");
    QRandomGenerator random(7);
    for (int round = 0; round < 25; ++round) {
        QProcess saver;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QFileInfo(store.folder()).path());
        // A save killed midway may leave its private copy behind: keep it in the test's folder.
        env.insert(QStringLiteral("TMPDIR"), QFileInfo(store.folder()).path());
        saver.setProcessEnvironment(env);
        saver.start(QStringLiteral(TRV_FAULT_HELPER), {QStringLiteral("save-forever")});
        ASSERT_TRUE(saver.waitForReadyRead(10000));
        // Let it save for a random while, then kill it wherever it is.
        QThread::usleep(random.bounded(1000, 40000));
        saver.kill();
        saver.waitForFinished(10000);
        const QString port = store.run({QStringLiteral("read"), QStringLiteral("ComPort")}).output;
        ASSERT_TRUE(port == "3" || port == "4")
            << "round " << round << ": " << port.toStdString() << "\n"
            << store.content().toStdString();
        const QByteArray content = store.content();
        ASSERT_TRUE(content.startsWith("[StartUP]\n")) << content.toStdString();
        ASSERT_TRUE(content.endsWith('\n')) << content.toStdString();
    }
}

// The far end of a pseudo-terminal whose near end the helper opens as COM7.
class DeviceFault : public ::testing::Test {
protected:
    void SetUp() override {
        why_ = testing::unprivilegedUnavailable();
        if (!why_.isEmpty())
            GTEST_SKIP() << why_.toStdString();
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            GTEST_SKIP() << "pseudo-terminals are unavailable here";
        device_ = QString::fromLocal8Bit(name);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("ZEKO_COM7"), device_);
    }
    void TearDown() override {
        if (slave_ >= 0)
            ::close(slave_);
        if (master_ >= 0)
            ::close(master_);
    }
    testing::HelperRun open() {
        return runHelper({QStringLiteral("open-port"), QStringLiteral("7")}, env_, true);
    }

    QString why_;
    int master_ = -1;
    int slave_ = -1;
    QString device_;
    QProcessEnvironment env_;
};

TEST_F(DeviceFault, WithoutPermissionTheReasonNamesTheDialoutGroup) {
    chmod(device_.toLocal8Bit().constData(), 0600);
    if (fchown(slave_, 0, 0) != 0 && geteuid() == 0)
        GTEST_SKIP() << "cannot give the device to root";
    if (geteuid() != 0)
        chmod(device_.toLocal8Bit().constData(), 0000);
    const testing::HelperRun run = open();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.contains(QLatin1String("permission denied")))
        << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QLatin1String("dialout"))) << run.output.toStdString();
}

TEST_F(DeviceFault, HeldByAnotherProgramSaysBusy) {
    chmod(device_.toLocal8Bit().constData(), 0666);
    ASSERT_EQ(ioctl(slave_, TIOCEXCL), 0);
    const testing::HelperRun run = open();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.output.contains(QLatin1String("busy"))) << run.output.toStdString();
}

TEST_F(DeviceFault, MissingDeviceSaysSo) {
    env_.insert(QStringLiteral("ZEKO_COM7"), QStringLiteral("/dev/trv-unplugged"));
    const testing::HelperRun run = open();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output.trimmed(), "COM7 (/dev/trv-unplugged): no such device");
}

} // namespace
} // namespace trv
