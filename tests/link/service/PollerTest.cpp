// The daemon's own reads on a fake line and a hand-driven clock: one at a time, in rounds no
// closer than the period, never during a hold, and none while the line is down.
#include "link/service/Poller.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace trv::service {
namespace {

using Strings = std::vector<std::string>;

class Polling : public ::testing::Test {
protected:
    Polling() { service_.start(); }
    static void turn() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    // Answers the round's four reads in turn, each after 10 ms.
    void answerRound() {
        for (const char* reply : {"00\r", "1\r", "01234\r", "+30.0 +31.5 +40.2\r"}) {
            turn();
            clock_.advance(10);
            port_.deliver(reply);
        }
        turn();
    }

    static inline const Sender kWeb{Sender::Kind::Web, "127.0.0.2", 11};
    testing::FakeSerialPort port_;
    testing::ManualClock clock_;
    ProjectorService service_{port_, clock_, {"COM3", "", 1000, 1200}, {}};
    Poller poller_{service_, clock_, 60};
};

TEST_F(Polling, ReadsTheFourValuesOneAtATimeAndAgainAPeriodAfterTheRoundBegan) {
    turn();
    EXPECT_EQ(port_.writes, Strings{"CR0\r"}); // the next waits for this one's reply
    answerRound();
    EXPECT_EQ(port_.writes, (Strings{"CR0\r", "CR1\r", "CR3\r", "CR6\r"}));
    EXPECT_EQ(service_.values().get("CR6")->reply, "+30.0 +31.5 +40.2\r");
    clock_.advance(60000 - 41);
    turn();
    EXPECT_EQ(port_.writes.size(), 4u);
    clock_.advance(1);
    turn();
    EXPECT_EQ(port_.writes.back(), "CR0\r");
    EXPECT_EQ(poller_.rounds(), 2u);
}

TEST_F(Polling, ItsReadsWaitBehindOthersAndASilentProjectorCostsOneReadARound) {
    const auto ask = [this](const char* command) {
        ProjectorService::Request request;
        request.command = command;
        request.sender = kWeb;
        service_.exchange(request, [](ProjectorService::Outcome, const ExchangeResult&) {});
    };
    turn(); // CR0 on the line
    ask("C00");
    clock_.advance(10);
    port_.deliver("00\r"); // C00 next, the poll's CR1 behind it
    turn();
    ask("C05"); // asked later, sent sooner
    port_.deliver("\x06");
    turn();
    port_.deliver("\x06");
    turn();
    EXPECT_EQ(port_.writes, (Strings{"CR0\r", "C00\r", "C05\r", "CR1\r"}));
    clock_.advance(1000); // CR1 unanswered: the round ends there
    turn();
    clock_.advance(58000);
    turn();
    EXPECT_EQ(port_.writes.size(), 4u);
}

TEST_F(Polling, AHoldPausesTheRoundAndARoundDueDuringItWaitsForItsEnd) {
    turn();
    clock_.advance(10);
    port_.deliver("00\r"); // CR0 answered; CR1 goes out
    turn();
    ASSERT_EQ(service_.startHold("C47", std::nullopt, kWeb),
              ProjectorService::HoldOutcome::Started);
    port_.deliver("1\r");
    for (int i = 0; i < 10; ++i) {
        turn();
        port_.deliver("\x06\r");
        clock_.advance(100);
        service_.keepHold(kWeb.id);
    }
    const Strings held(port_.writes.begin() + 2, port_.writes.end());
    EXPECT_EQ(held, Strings(held.size(), "C47\r")); // no read between the hold's sends
    service_.endHold(kWeb.id);
    turn();
    EXPECT_EQ(port_.writes.back(), "CR3\r");
}

TEST_F(Polling, AHoldLongerThanThePeriodBeginsTheRoundAfreshNotTwice) {
    turn();
    clock_.advance(10);
    port_.deliver("00\r"); // CR0 answered; CR1 goes out
    turn();
    ASSERT_EQ(service_.startHold("C47", std::nullopt, kWeb),
              ProjectorService::HoldOutcome::Started);
    port_.deliver("1\r");
    turn();
    // Kept alive and answered until it ends after 60 s, a period after the round began.
    for (int i = 0; i < 700 && service_.hold().active; ++i) {
        port_.deliver("\x06\r");
        clock_.advance(100);
        service_.keepHold(kWeb.id);
        QCoreApplication::processEvents();
    }
    ASSERT_FALSE(service_.hold().active);
    const std::size_t after = port_.writes.size();
    answerRound();
    // The round's first read went out as the hold ended.
    const Strings round(port_.writes.begin() + std::ptrdiff_t(after) - 1, port_.writes.end());
    EXPECT_EQ(round, (Strings{"CR0\r", "CR1\r", "CR3\r", "CR6\r"}));
    EXPECT_EQ(poller_.rounds(), 2u);
    clock_.advance(1000);
    turn();
    EXPECT_EQ(port_.writes.back(), "CR6\r"); // the next round a period later, not now
}

TEST_F(Polling, NoReadWhileTheLineIsDownAndARoundWhenItComesBack) {
    turn();
    answerRound();
    port_.failOpen = true;
    port_.unplug();
    turn();
    const std::size_t sent = port_.writes.size();
    const int tries = port_.attempts;
    clock_.advance(70000);
    turn();
    EXPECT_EQ(port_.writes.size(), sent);
    // Only the line's own back-off tries to open it: 1, 2, 4, 8, 10 s ... in 70 s.
    EXPECT_LE(port_.attempts - tries, 10);
    port_.failOpen = false;
    clock_.advance(10000);
    turn();
    EXPECT_EQ(port_.writes.back(), "CR0\r");
}

TEST(PollingOff, PeriodZeroReadsNothing) {
    testing::FakeSerialPort port;
    testing::ManualClock clock;
    ProjectorService service(port, clock, {"COM4", "", 1000, 1200}, {});
    Poller poller(service, clock, 0);
    service.start();
    clock.advance(120000);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    EXPECT_TRUE(port.writes.empty());
}

} // namespace
} // namespace trv::service
