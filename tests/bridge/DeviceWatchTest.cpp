// Watching for a device path to appear, on real folders.
#include "bridge/DeviceWatch.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace trv::bridge {
namespace {

TEST(DeviceWatch, SeesThePathAppearWhateverOfItsFoldersCameAndWentWithIt) {
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/serial/by-id");
    const QString path = folder + QStringLiteral("/usb-adapter");
    DeviceWatch watch(path);
    QSignalSpy appeared(&watch, &DeviceWatch::appeared);
    const auto make = [&] {
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile device(path);
        ASSERT_TRUE(device.open(QIODevice::WriteOnly));
    };
    const struct {
        const char* name;
        std::function<void()> before; // undoes what the row before made
    } rows[] = {
        {"folders and device made", [] {}},
        {"device removed and made again", [&] { QFile::remove(path); }},
        {"the folder removed with it",
         [&] { QDir(dir.path() + QStringLiteral("/serial")).removeRecursively(); }},
    };
    int expected = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.before();
        QTest::qWait(50); // the watch follows the change
        EXPECT_EQ(appeared.count(), expected);
        make();
        EXPECT_TRUE(QTest::qWaitFor([&] { return appeared.count() == expected + 1; }, 5000));
        ++expected;
    }
    // Something else in the folder is not the device.
    QFile other(folder + QStringLiteral("/other"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    QTest::qWait(100);
    EXPECT_EQ(appeared.count(), expected);
}

} // namespace
} // namespace trv::bridge
