// The daemon's one owner of the line on a fake line and a hand-driven clock: the queue, what
// every front end is told, the shared values and the hold with its dead-man.
#include "link/service/ProjectorService.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace trv::service {
namespace {

using Outcome = ProjectorService::Outcome;
using Strings = std::vector<std::string>;

class Service : public ::testing::Test {
protected:
    Service() {
        QObject::connect(&service_, &ProjectorService::event, &service_,
                         [this](const ServiceEvent& e) { events_.push_back(e); });
        service_.start();
    }
    void ask(const std::string& command, std::optional<std::string> address = std::nullopt,
             Sender sender = kWeb, bool yieldToHold = false) {
        ProjectorService::Request request;
        request.command = command;
        request.address = std::move(address);
        request.sender = std::move(sender);
        request.yieldToHold = yieldToHold;
        service_.exchange(std::move(request), [this](Outcome o, const ExchangeResult& r) {
            outcomes_.push_back(o);
            results_.push_back(r);
        });
    }
    static void turn() {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    std::vector<ServiceEvent> eventsOf(ServiceEvent::Kind kind) const {
        std::vector<ServiceEvent> out;
        for (const ServiceEvent& e : events_)
            if (e.kind == kind)
                out.push_back(e);
        return out;
    }

    static inline const Sender kWeb{Sender::Kind::Web, "127.0.0.2", 11};
    static inline const Sender kOther{Sender::Kind::Web, "127.0.0.3", 12};
    testing::FakeSerialPort port_;
    testing::ManualClock clock_;
    ProjectorService service_{port_, clock_, {"COM3", "", 1000, 1200}, {}};
    std::vector<ServiceEvent> events_;
    std::vector<Outcome> outcomes_;
    std::vector<ExchangeResult> results_;
};

TEST_F(Service, OneExchangeAtATimeEachAnsweredWithWhatTheLineDidAndWhoSentIt) {
    ask("CR0");
    ask("C00", "A001", {Sender::Kind::Pjlink, "127.0.0.9", 5});
    turn();
    EXPECT_EQ(port_.writes, Strings{"CR0\r"});
    clock_.advance(40);
    port_.deliver("00\r");
    turn();
    EXPECT_EQ(port_.writes, (Strings{"CR0\r", "A001C00\r"}));
    clock_.advance(1000); // no reply
    turn();
    ASSERT_EQ(outcomes_, (std::vector<Outcome>{Outcome::Done, Outcome::Done}));
    EXPECT_TRUE(results_[0].replied);
    EXPECT_EQ(results_[0].replyMs, 40);
    EXPECT_EQ(results_[0].decoded, " Power ON");
    EXPECT_EQ(results_[0].sent, "CR0\r");
    EXPECT_FALSE(results_[1].replied);
    EXPECT_EQ(results_[1].rx, " X X X X ");

    // Every front end sees each send with its sender, each arrival and the missing reply.
    Strings traffic;
    for (const ServiceEvent& e : eventsOf(ServiceEvent::Kind::Traffic))
        traffic.push_back(e.traffic.text + "|" + e.sender.label());
    EXPECT_EQ(traffic,
              (Strings{"opened|bridge", " C R 0  [CR] |web 127.0.0.2", " 0 0  [CR] |bridge",
                       " A 0 0 1 C 0 0  [CR] |pjlink 127.0.0.9", " X X X X |bridge"}));
    ASSERT_EQ(service_.record().size(), traffic.size());
    EXPECT_NE(service_.record()[1].find("\tTX\t"), std::string::npos);
    EXPECT_NE(service_.record()[1].find("43 52 30 0D"), std::string::npos);
}

TEST_F(Service, OnlyTheConfiguredUnitsRepliesBecomeTheSharedValues) {
    const struct {
        const char* command;
        std::optional<std::string> address;
        const char* reply;
        bool statusKept; // a CR0 reply is there afterwards
        bool frozen, muted;
    } rows[] = {
        {"CR0", "A001", "00\r", false, false, false}, // another unit's status
        {"CR0", std::nullopt, "00\r", true, false, false},
        {"C43", std::nullopt, "\x06", false, true, false}, // a set forgets the status
        {"CR0", std::nullopt, "00\r", true, true, false},
        {"C0D", "A002", "\x06", false, true, false}, // another unit muted: ours may have changed
        {"C0D", std::nullopt, "\x06", false, true, true},
        {"C44", std::nullopt, "", false, true, true},      // no acknowledge: nothing changed
        {"CR0", std::nullopt, "80\r", true, false, false}, // standby: the picture's state ends
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.command) + " " + row.address.value_or("-"));
        ask(row.command, row.address);
        turn();
        if (*row.reply)
            port_.deliver(row.reply);
        else
            clock_.advance(1000);
        turn();
        EXPECT_EQ(service_.values().get("CR0").has_value(), row.statusKept);
        EXPECT_EQ(service_.frozen(), row.frozen);
        EXPECT_EQ(service_.muted(), row.muted);
    }
    EXPECT_EQ(service_.freshValue("CR0", 1000)->reply, "80\r");
    clock_.advance(1000);
    EXPECT_FALSE(service_.freshValue("CR0", 1000));
}

TEST_F(Service, AHoldSendsAtOnceAndEveryTickLetsOthersInBetweenAndDiesWithoutKeepAlive) {
    EXPECT_EQ(service_.startHold("C00", std::nullopt, kWeb),
              ProjectorService::HoldOutcome::NotHoldCommand);
    ASSERT_EQ(service_.startHold("C47", "A001", kWeb), ProjectorService::HoldOutcome::Started);
    EXPECT_EQ(port_.writes, Strings{"A001C47\r"});
    EXPECT_EQ(service_.startHold("C46", std::nullopt, kOther), ProjectorService::HoldOutcome::Held);
    ask("C00", std::nullopt, kOther, true); // a person's send while another holds: refused
    ask("CR0");                             // a read from elsewhere: between the ticks
    turn();
    EXPECT_EQ(outcomes_, std::vector<Outcome>{Outcome::Held});
    clock_.advance(100);
    port_.deliver("\x06");
    turn();
    // The tick found the send unanswered and the read waiting: the read went once it was.
    EXPECT_EQ(port_.writes, (Strings{"A001C47\r", "CR0\r"}));
    clock_.advance(100); // the tick finds the read on the line: the hold goes right after it
    EXPECT_EQ(port_.writes.size(), 2u);
    port_.deliver("00\r");
    turn();
    EXPECT_EQ(port_.writes.back(), "A001C47\r");
    EXPECT_EQ(port_.writes.size(), 3u);
    for (int i = 0; i < 4; ++i) {
        service_.keepHold(kWeb.id);
        service_.keepHold(kOther.id); // not the holder's: no effect on the dead-man
        clock_.advance(100);
    }
    EXPECT_EQ(port_.writes.size(), 7u);
    // No keep-alive for 500 ms: the hold ends by itself and sends nothing more.
    clock_.advance(500);
    const std::size_t sent = port_.writes.size();
    EXPECT_LE(sent, 13u);
    EXPECT_FALSE(service_.hold().active);
    clock_.advance(1000);
    EXPECT_EQ(port_.writes.size(), sent);
    EXPECT_EQ(service_.display().tx, "");
    const auto holds = eventsOf(ServiceEvent::Kind::Hold);
    ASSERT_EQ(holds.size(), 2u);
    EXPECT_TRUE(holds[0].hold.active);
    EXPECT_EQ(holds[0].hold.holder, kWeb);
    EXPECT_FALSE(holds[1].hold.active);

    // Kept alive, a hold still ends after 60 s; ended by its holder, at once.
    ASSERT_EQ(service_.startHold("C60", std::nullopt, kOther),
              ProjectorService::HoldOutcome::Started);
    for (int i = 0; i < 700 && service_.hold().active; ++i) {
        service_.keepHold(kOther.id);
        clock_.advance(100);
    }
    EXPECT_FALSE(service_.hold().active);
    EXPECT_GE(clock_.now(), 60000 + 1500);
    ASSERT_EQ(service_.startHold("C60", std::nullopt, kWeb),
              ProjectorService::HoldOutcome::Started);
    service_.endHold(kOther.id);
    EXPECT_TRUE(service_.hold().active);
    service_.endHold(kWeb.id);
    EXPECT_FALSE(service_.hold().active);
    const std::size_t after = port_.writes.size();
    clock_.advance(300);
    EXPECT_EQ(port_.writes.size(), after);
}

TEST_F(Service, AHoldOnAUnitThatNeverAnswersLetsAWaitingExchangeInOnceItsWindowHasClosed) {
    ASSERT_EQ(service_.startHold("C5D", "A004", kWeb), ProjectorService::HoldOutcome::Started);
    ask("CR0");
    turn();
    clock_.advance(100); // the tick finds its send unanswered and a read waiting: it yields
    EXPECT_EQ(port_.writes, Strings{"A004C5D\r"});
    clock_.advance(20);
    port_.deliver("\x06"); // late, but within the hold's window: the hold's, not the read's
    turn();
    EXPECT_EQ(port_.writes, (Strings{"A004C5D\r", "CR0\r"}));
    port_.deliver("00\r");
    turn();
    ASSERT_EQ(outcomes_, std::vector<Outcome>{Outcome::Done});
    EXPECT_EQ(results_[0].received, "00\r");
    EXPECT_EQ(results_[0].decoded, " Power ON");
    EXPECT_EQ(port_.writes.back(), "A004C5D\r"); // the hold goes on at once
    // The arrows leave the status read standing, for PJLink to answer from.
    EXPECT_TRUE(service_.freshValue("CR0", 1000));
}

TEST_F(Service, AHoldNeverCutsShortNorStrandsAnotherSendersExchange) {
    ask("CR0"); // a slow reply: the hold starts while it is awaited
    turn();
    clock_.advance(50);
    ASSERT_EQ(service_.startHold("C47", std::nullopt, kWeb),
              ProjectorService::HoldOutcome::Started);
    clock_.advance(250);
    port_.deliver("00\r");
    turn();
    ASSERT_EQ(outcomes_, std::vector<Outcome>{Outcome::Done});
    EXPECT_TRUE(results_[0].replied) << "the read kept its own reply window";
    EXPECT_EQ(port_.writes, (Strings{"CR0\r", "C47\r"}));
    port_.deliver("\x06");
    turn();
    ask("CR1", "A003", kWeb); // never answered; the hold ends while it is on the line
    turn();
    service_.endHold(kWeb.id);
    clock_.advance(1000);
    turn();
    ask("CR3");
    turn();
    EXPECT_EQ(port_.writes.back(), "CR3\r") << "the line is free again";
    ASSERT_EQ(outcomes_.size(), 2u);
    EXPECT_FALSE(results_[1].replied);
}

TEST_F(Service, PeopleAtOneAddressNeverFillTheQueueForOthers) {
    ask("CR0"); // on the line
    turn();
    for (std::size_t i = 0; i < ProjectorService::kQueueLimitPerAddress + 2; ++i)
        ask("C00", "A004", {Sender::Kind::Api, "127.0.0.5", 100 + i});
    ask("C00", "A004", {Sender::Kind::Web, "127.0.0.6", 200});
    ask("CR1", std::nullopt, {Sender::Kind::Pjlink, "127.0.0.5", 300});
    turn();
    ASSERT_EQ(outcomes_, std::vector<Outcome>(2, Outcome::Busy));
    for (int i = 0; i < 11; ++i) { // nothing answers: each waits out its window
        clock_.advance(1000);
        turn();
    }
    EXPECT_EQ(outcomes_.size(), 2u + 1 + ProjectorService::kQueueLimitPerAddress + 2);
    EXPECT_EQ(port_.writes.back(), "CR1\r");
}

TEST_F(Service, TheLinesStateIsToldWithItsReasonAndNextTry) {
    ASSERT_TRUE(port_.isOpen());
    port_.failOpen = true;
    ask("CR0");
    turn();
    port_.unplug();
    turn();
    EXPECT_EQ(outcomes_, std::vector<Outcome>{Outcome::Lost});
    const auto lines = eventsOf(ServiceEvent::Kind::Line);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_TRUE(lines[0].line.up);
    EXPECT_FALSE(lines.back().line.up);
    EXPECT_EQ(lines.back().line.retryMs, 1000);
    EXPECT_EQ(service_.lineState().port, "COM1"); // as the open named it
    clock_.advance(1000);                         // the try fails: the next in 2 s, told again
    EXPECT_EQ(service_.lineState().retryMs, 2000);
    EXPECT_EQ(service_.lineState().reason, port_.failReason.toStdString());
    EXPECT_EQ(service_.startHold("C47", std::nullopt, kWeb),
              ProjectorService::HoldOutcome::LineDown);
    port_.failOpen = false;
    clock_.advance(2000);
    EXPECT_TRUE(service_.lineState().up);
    EXPECT_EQ(service_.lineState().reason, "");
}

TEST_F(Service, CountsEachSendItsReplyTimeAndHowItFailed) {
    ask("CR0");
    ask("C00");
    ask("CR3");
    turn();
    clock_.advance(7);
    port_.deliver("00\r"); // 7 ms: the 10 ms bucket
    turn();
    clock_.advance(1000); // C00 unanswered
    turn();
    port_.unplug(); // CR3 on the line
    turn();
    const LineStatistics& s = service_.statistics();
    EXPECT_EQ(s.exchanges, 3u);
    EXPECT_EQ(s.noReply, 1u);
    EXPECT_EQ(s.lost, 1u);
    EXPECT_EQ(s.lineLosses, 1u);
    EXPECT_EQ(s.replyCount(), 1u);
    EXPECT_EQ(s.replies[1], 1u);
    EXPECT_EQ(s.replyMsSum, 7);
}

TEST_F(Service, TheDaemonsOwnReadsAreNeverSentDuringAHoldEvenWhenAskedBefore) {
    ask("C00"); // on the line
    ProjectorService::Request read;
    read.command = "CR6";
    read.sender = {Sender::Kind::Bridge, {}, 99};
    read.notDuringHold = true;
    read.shared = true;
    service_.exchange(read, [this](Outcome o, const ExchangeResult& r) {
        outcomes_.push_back(o);
        results_.push_back(r);
    });
    turn();
    ASSERT_EQ(service_.startHold("C47", std::nullopt, kWeb),
              ProjectorService::HoldOutcome::Started);
    // Someone else's read of the same, which the hold lets through, is not joined to it.
    ProjectorService::Request pjlink;
    pjlink.command = "CR6";
    pjlink.sender = {Sender::Kind::Pjlink, "127.0.0.9", 5};
    pjlink.shared = true;
    service_.exchange(pjlink, [this](Outcome o, const ExchangeResult& r) {
        outcomes_.push_back(o);
        results_.push_back(r);
    });
    port_.deliver("\x06\r"); // C00's reply: the hold's send goes next
    turn();
    port_.deliver("\x06\r"); // and between its sends the reads would go
    turn();
    ASSERT_EQ(outcomes_, (std::vector<Outcome>{Outcome::Done, Outcome::Held}));
    EXPECT_EQ(port_.writes, (Strings{"C00\r", "C47\r", "CR6\r"}));
}

TEST_F(Service, ASharedReadAskedWhileTheSameReadIsOnTheLineIsAnsweredByIt) {
    const auto read = [this](const char* command, Sender sender) {
        ProjectorService::Request request;
        request.command = command;
        request.sender = sender;
        request.shared = true;
        service_.exchange(request, [this](Outcome o, const ExchangeResult& r) {
            outcomes_.push_back(o);
            results_.push_back(r);
        });
    };
    read("CR0", {Sender::Kind::Bridge, {}, 99});
    turn();
    read("CR0", kWeb);   // joins the one on the line
    read("CR1", kOther); // another read goes on its own
    turn();
    port_.deliver("80\r");
    turn();
    port_.deliver("2\r");
    turn();
    EXPECT_EQ(port_.writes, (Strings{"CR0\r", "CR1\r"}));
    ASSERT_EQ(results_.size(), 3u);
    EXPECT_EQ(results_[0].received, "80\r");
    EXPECT_EQ(results_[1].received, "80\r");
    EXPECT_EQ(results_[2].received, "2\r");
}

} // namespace
} // namespace trv::service
