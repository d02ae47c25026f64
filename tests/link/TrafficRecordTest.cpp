#include "link/TrafficRecord.h"
#include "link/TrafficLine.h"
#include "support/Harness.h"
#include "windows/settings/Form2.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace trv {
namespace {

using testing::FakeSerialPort;
using testing::Harness;
using testing::ManualClock;
using Direction = TrafficLine::Direction;

std::vector<std::string> linesOf(const QString& path) {
    QFile file(path);
    std::vector<std::string> lines;
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            lines.push_back(line.toStdString());
    return lines;
}

TEST(TrafficLine, TimeIsLocalWithMillisecondsAndOffset) {
    const struct {
        std::int64_t utcMs;
        int offsetSeconds;
        const char* text;
    } rows[] = {
        {0, 0, "1970-01-01T00:00:00.000+00:00"},
        {-1, 0, "1969-12-31T23:59:59.999+00:00"},
        {1796667601123, 3600, "2026-12-07T19:20:01.123+01:00"},
        {1796667601123, -(5 * 3600 + 1800), "2026-12-07T12:50:01.123-05:30"},
        {951782400000, 0, "2000-02-29T00:00:00.000+00:00"},
        {1798759800000, 3600, "2027-01-01T00:30:00.000+01:00"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(TrafficLine::isoTime({row.utcMs, row.offsetSeconds}), row.text);
    }
}

TEST(TrafficLine, FieldsAreTabSeparatedWithBytesInHex) {
    const WallTime t{1796667601123, 3600};
    const struct {
        TrafficLine line;
        const char* text;
    } rows[] = {
        {{t, "COM3", Direction::Tx, " C 0 0  [CR] ", "C00\r"},
         "2026-12-07T19:20:01.123+01:00\tCOM3\tTX\t C 0 0  [CR] \t43 30 30 0D\n"},
        {{t, "tcp://room12:4000", Direction::Rx, " [ACK] ? ", std::string("\x06\xff", 2)},
         "2026-12-07T19:20:01.123+01:00\ttcp://room12:4000\tRX\t [ACK] ? \t06 FF\n"},
        {{t, "COM3", Direction::Rx, " ? ", std::string(1, '\0')},
         "2026-12-07T19:20:01.123+01:00\tCOM3\tRX\t ? \t00\n"},
        {{t, "COM3", Direction::Event, "opened", ""},
         "2026-12-07T19:20:01.123+01:00\tCOM3\t--\topened\t\n"},
        // A line break or tab in a name or a reason must not start a line or a column.
        {{t, "/dev/x\ty", Direction::Event, "lost: gone\naway", ""},
         "2026-12-07T19:20:01.123+01:00\t/dev/x?y\t--\tlost: gone?away\t\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(row.line.format(), row.text);
    }
}

// A link on an open fake COM1 recording into a file of its own.
struct Recorded {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("traffic.log"));
    FakeSerialPort serial;
    ManualClock clock;
    ProjectorLink link{serial, clock};
    TrafficRecord record{path};

    Recorded() {
        serial.open();
        link.setRecord(&record);
        link.timer2().setInterval(1000);
        link.timer4().setInterval(1200);
    }
    void send(const char* command) {
        link.commandText = std::string(command) + "\r";
        link.Hyouji(link.commandText, 1);
    }
};

// The clock of the fakes starts at 19:20:01.000 local time.
std::string at(int ms, const char* rest) {
    char time[40];
    std::snprintf(time, sizeof time, "2026-12-07T19:20:%02d.%03d+01:00\tCOM1\t", 1 + ms / 1000,
                  ms % 1000);
    return time + std::string(rest);
}

TEST(TrafficRecord, EachEventIsOneLineInTheOrderOfTheLine) {
    const struct {
        const char* what;
        std::function<void(Recorded&)> act;
        std::vector<std::string> lines;
    } rows[] = {
        {"a send", [](Recorded& r) { r.send("C00"); }, {at(0, "TX\t C 0 0  [CR] \t43 30 30 0D")}},
        {"a reply in two deliveries",
         [](Recorded& r) {
             r.send("CR0");
             r.clock.advance(5);
             r.serial.deliver("0");
             r.clock.advance(20);
             r.serial.deliver("0\r");
         },
         {at(0, "TX\t C R 0  [CR] \t43 52 30 0D"), at(5, "RX\t 0 \t30"),
          at(25, "RX\t 0  [CR] \t30 0D")}},
        {"a reply that does not come",
         [](Recorded& r) {
             r.send("CR0");
             r.clock.advance(1000);
         },
         {at(0, "TX\t C R 0  [CR] \t43 52 30 0D"), at(1000, "--\t X X X X \t")}},
        {"arrivals not yet reported go before the next send",
         [](Recorded& r) {
             r.send("CR0");
             r.serial.pending = "00";
             r.clock.advance(10);
             r.send("CR1");
         },
         {at(0, "TX\t C R 0  [CR] \t43 52 30 0D"), at(10, "RX\t 0 0 \t30 30"),
          at(10, "TX\t C R 1  [CR] \t43 52 31 0D")}},
        {"a hang-up in the middle of a reply",
         [](Recorded& r) {
             r.send("CR0");
             r.serial.deliver("0");
             r.clock.advance(7);
             r.serial.unplug();
         },
         {at(0, "TX\t C R 0  [CR] \t43 52 30 0D"), at(0, "RX\t 0 \t30"),
          at(7, "--\tlost: unplugged\t")}},
        {"closing, opening and a hold",
         [](Recorded& r) {
             r.serial.close();
             r.serial.open();
             r.link.holdStarted();
             r.link.holdEnded();
         },
         {at(0, "--\tclosed\t"), at(0, "--\topened\t"), at(0, "--\thold started\t"),
          at(0, "--\thold ended\t")}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Recorded r;
        row.act(r);
        EXPECT_EQ(linesOf(r.path), row.lines);
    }
}

TEST(TrafficRecord, PastTheLimitTheFileBecomesTheOlderOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("traffic.log"));
    const TrafficLine line{{0, 0}, "COM1", Direction::Event, "fifth", ""};
    const auto size = qint64(line.format().size());
    TrafficRecord record(path, 2 * size);
    QSignalSpy failed(&record, &TrafficRecord::failed);
    const std::string texts[] = {"first", "secnd", "third", "forth", "fifth"};
    for (const std::string& text : texts)
        record.write({{0, 0}, "COM1", Direction::Event, text, ""});
    EXPECT_EQ(failed.count(), 0);
    const auto only = [](const QString& file) {
        std::vector<std::string> texts;
        for (const std::string& line : linesOf(file))
            texts.push_back(QByteArray::fromStdString(line).split('\t').value(3).toStdString());
        return texts;
    };
    // Two lines a file: the fifth began a new file, the third and fourth are the older one,
    // and the first two are gone.
    EXPECT_EQ(only(path), std::vector<std::string>{"fifth"});
    EXPECT_EQ(only(path + ".1"), (std::vector<std::string>{"third", "forth"}));
}

TEST(TrafficRecord, AFileThatCannotBeWrittenIsSaidOnceAndLeftAlone) {
    QTemporaryDir dir;
    std::vector<QString> paths = {dir.filePath(QStringLiteral("no-folder/traffic.log")),
                                  dir.path()};
#ifdef Q_OS_UNIX
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    paths.push_back(fifo);
#endif
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        TrafficRecord record(path);
        QSignalSpy failed(&record, &TrafficRecord::failed);
        EXPECT_FALSE(record.open());
        for (int i = 0; i < 3; ++i)
            record.write({{0, 0}, "COM1", Direction::Event, "opened", ""});
        ASSERT_EQ(failed.count(), 1);
        EXPECT_TRUE(failed.at(0).at(0).toString().startsWith(QDir::toNativeSeparators(path)));
        EXPECT_FALSE(record.active());
    }
}

#ifdef Q_OS_UNIX
TEST(TrafficRecord, AWriteThatFailsIsSaidOnce) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("traffic.log"));
    TrafficRecord record(path);
    ASSERT_TRUE(record.open());
    QSignalSpy failed(&record, &TrafficRecord::failed);
    // A file size limit fails a write as a full disk does.
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int i = 0; i < 3; ++i)
        record.write({{0, 0}, "COM1", Direction::Rx, std::string(60, 'x'), std::string(20, 'x')});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    ASSERT_EQ(failed.count(), 1);
    EXPECT_TRUE(failed.at(0).at(0).toString().startsWith(path));
    EXPECT_FALSE(record.active());
}
#endif

TEST(TrafficRecord, PanelSaysAFailedRecordOnceAndWorksOn) {
    Harness h;
    QTemporaryDir dir;
    TrafficRecord record(dir.filePath(QStringLiteral("no-folder/traffic.log")));
    h.make().useRecord(record);
    h.form->start();
    h.button("Command44")->click();
    h.button("Command44")->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(h.messages.shown.size(), 1u);
    EXPECT_TRUE(h.messages.shown[0].detail.contains(QStringLiteral("no-folder")));
    EXPECT_EQ(h.messages.shown[0].parent, static_cast<QWidget*>(h.form.get()));
    EXPECT_EQ(h.serial.writes.size(), 2u);
}

// On the first start only the COM PORT dialog is on screen: the box belongs over it, not
// over the panel that is neither shown nor placed yet (which put it in the screen's corner).
TEST(TrafficRecord, PanelSaysAFailedRecordOverTheWindowOnScreen) {
    Harness h;
    h.store.values.clear();
    QTemporaryDir dir;
    TrafficRecord record(dir.filePath(QStringLiteral("no-folder/traffic.log")));
    h.make().useRecord(record);
    h.form->start();
    ASSERT_NE(h.form->settingsDialog(), nullptr);
    QCoreApplication::processEvents();
    ASSERT_EQ(h.messages.shown.size(), 1u);
    EXPECT_EQ(h.messages.shown[0].parent, static_cast<QWidget*>(h.form->settingsDialog()));
    EXPECT_FALSE(h.form->isVisible());
}

TEST(TrafficRecord, PanelRecordsAHoldFromStartToEnd) {
    Harness h;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("traffic.log"));
    TrafficRecord record(path);
    h.make().useRecord(record);
    h.form->start();
    QPushButton* zoomUp = h.button("Command30");
    QTest::mousePress(zoomUp, Qt::LeftButton);
    h.clock.advance(100);
    QTest::mouseRelease(zoomUp, Qt::LeftButton);
    EXPECT_EQ(linesOf(path),
              (std::vector<std::string>{at(0, "--\topened\t"), at(0, "--\thold started\t"),
                                        at(0, "TX\t C 4 7  [CR] \t43 34 37 0D"),
                                        at(100, "TX\t C 4 7  [CR] \t43 34 37 0D"),
                                        at(100, "--\thold ended\t")}));
    EXPECT_TRUE(h.messages.shown.empty());
}

} // namespace
} // namespace trv
