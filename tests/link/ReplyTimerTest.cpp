// The reply timers on real Qt timers: the reply window closes before the displays clear, at
// every pair of periods the program uses, so the " X X X X " mark always gets its moment.
#include "link/ProjectorLink.h"
#include "link/clock/QtClock.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace trv {
namespace {

TEST(ReplyTimers, WindowClosesWellBeforeTheDisplaysClearAtEveryPair) {
    struct Pair {
        int timer2, timer4;
        testing::FakeSerialPort serial;
        std::unique_ptr<ProjectorLink> link;
        qint64 tick2 = -1, tick4 = -1;
    };
    QtClock clock;
    Pair pairs[2] = {{10000, 10500, {}, {}}, {7000, 7500, {}, {}}};
    QElapsedTimer elapsed;
    elapsed.start();
    for (Pair& pair : pairs) {
        pair.serial.open();
        pair.link = std::make_unique<ProjectorLink>(pair.serial, clock);
        pair.link->timer2().setInterval(pair.timer2);
        pair.link->timer4().setInterval(pair.timer4);
        QObject::connect(&pair.link->timer2(), &Timer::timeout, pair.link.get(),
                         [&pair, &elapsed] { pair.tick2 = elapsed.elapsed(); });
        QObject::connect(&pair.link->timer4(), &Timer::timeout, pair.link.get(),
                         [&pair, &elapsed] { pair.tick4 = elapsed.elapsed(); });
        std::string command = "CR0\r";
        ASSERT_TRUE(pair.link->Hyouji(command, 1));
    }
    QDeadlineTimer deadline(30000);
    while ((pairs[0].tick4 < 0 || pairs[1].tick4 < 0) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.timer2);
        ASSERT_GE(pair.tick2, 0);
        ASSERT_GE(pair.tick4, 0);
        EXPECT_GE(pair.tick4 - pair.tick2, 400);
        EXPECT_EQ(pair.link->display().rx, "");
    }
}

} // namespace
} // namespace trv
