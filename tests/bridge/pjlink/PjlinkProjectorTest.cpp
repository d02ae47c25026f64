// The projector side of the daemon on a fake line and a hand-driven clock.
#include "bridge/pjlink/PjlinkProjector.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace trv::bridge::pjlink {
namespace {

class ProjectorSide : public ::testing::Test {
protected:
    ProjectorSide() { line_.start(); }
    static PjlinkProjector::Settings settings() {
        PjlinkProjector::Settings settings;
        std::string error;
        settings.inputs = *InputMap::parse(InputMap::kDefault, error);
        settings.inputNames = *PjlinkInputNames::parse("3=P\xc3\xb6"
                                                       "dium PC",
                                                       error);
        settings.serial = "SN-1234";
        settings.softwareVersion = "1.02";
        settings.lampModel = "LMP-1 LMP-2";
        return settings;
    }
    void ask(const char* command, const char* parameter, char classDigit = '1') {
        projector_.request(classDigit, command, parameter, client_,
                           [this](const std::string& value) { replies_.push_back(value); });
    }
    // One turn of the event loop: the next exchange goes out.
    static void turn() { QCoreApplication::processEvents(); }

    testing::FakeSerialPort port_;
    testing::ManualClock clock_;
    QStringList log_;
    service::ProjectorService line_{
        port_, clock_, {}, [this](const std::string& l) { log_ << QString::fromStdString(l); }};
    PjlinkProjector projector_{line_, settings()};
    const service::Sender client_{service::Sender::Kind::Pjlink, "127.0.0.1", 1};
    std::vector<std::string> replies_;
};

using Strings = std::vector<std::string>;

TEST_F(ProjectorSide, PollersShareOneStatusReadWhichAnswersUntilItIsOldOrASetIsMade) {
    for (int i = 0; i < 10; ++i)
        ask("POWR", "?");
    turn();
    port_.deliver("80\r");
    EXPECT_EQ(replies_, Strings(10, "0"));
    ask("POWR", "?"); // from the cache
    EXPECT_EQ(replies_.size(), 11u);
    EXPECT_EQ(port_.writes, Strings{"CR0\r"});

    clock_.advance(1000); // too old now
    ask("POWR", "?");
    turn();
    port_.deliver("00\r");
    ask("INPT", "31");
    turn();
    port_.deliver("\x06");
    ask("POWR", "?"); // the set made the status unknown
    turn();
    EXPECT_EQ(port_.writes, (Strings{"CR0\r", "CR0\r", "C07\r", "CR0\r"}));
    EXPECT_EQ(replies_.back(), "OK");
}

TEST_F(ProjectorSide, LateReplyIsNotTheNextRequestsAndASetPastItsTimeIsNotSent) {
    ask("POWR", "?");
    turn();
    clock_.advance(1000); // the reply window closes
    EXPECT_EQ(replies_, Strings{"ERR4"});
    port_.pending = "80\r"; // and the reply comes just before the next command goes out
    ask("LAMP", "?");
    turn();
    port_.deliver("01234\r");
    turn();
    port_.deliver("00\r");
    EXPECT_EQ(replies_, (Strings{"ERR4", "1234 1"}));

    // Two unanswered reads ahead of a set: by its turn its client has had its answer.
    ask("LAMP", "?");
    ask("INPT", "?");
    ask("INPT", "31"); // the status read above still answers for it
    turn();
    clock_.advance(1000);
    turn();
    clock_.advance(1000);
    turn();
    turn(); // the refusal is answered on the loop's next turn
    EXPECT_EQ(port_.writes, (Strings{"CR0\r", "CR3\r", "CR0\r", "CR3\r", "CR1\r"}));
    EXPECT_EQ(replies_, (Strings{"ERR4", "1234 1", "ERR4", "ERR4", "ERR4"}));
}

TEST_F(ProjectorSide, LostLineFailsWhatNeedsItAndIsOpenedAgainLessOftenEachTime) {
    ask("POWR", "?");
    turn();
    port_.failOpen = true;
    port_.unplug();
    EXPECT_EQ(replies_, Strings{"ERR4"});
    // A request that needs the line tries it once before it is answered; one without does not.
    const int attempts = port_.attempts;
    ask("ERST", "?");
    ask("CLSS", "?");
    ask("LAMP", "?");
    turn();
    turn();
    EXPECT_EQ(replies_, (Strings{"ERR4", "2", "ERR4", "ERR4"}));
    EXPECT_EQ(port_.attempts, attempts + 1);
    // The tries on their own: 1 s, 2 s, 4 s, 8 s, then every 10 s.
    for (const int waitMs : {1000, 2000, 4000, 8000, 10000, 10000}) {
        const int before = port_.attempts;
        clock_.advance(waitMs - 1);
        EXPECT_EQ(port_.attempts, before) << waitMs;
        clock_.advance(1);
        EXPECT_EQ(port_.attempts, before + 1) << waitMs;
    }
    port_.failOpen = false;
    clock_.advance(10000);
    EXPECT_TRUE(port_.isOpen()) << log_.join(u'|').toStdString();
    EXPECT_TRUE(log_.contains(QStringLiteral("line back"))) << log_.join(u'|').toStdString();
    ask("POWR", "?");
    turn();
    port_.deliver("80\r");
    EXPECT_EQ(replies_.back(), "0");
}

TEST_F(ProjectorSide, ALineThatIsBackIsOpenedByTheNextRequestOrWhenItsDeviceAppears) {
    const struct {
        const char* name;
        std::int64_t afterMs; // since the line was lost
        bool device;          // the device is seen to appear, rather than a request
        int attempts;         // tries by then, those on their own included
        bool open;
    } rows[] = {
        {"a request at once", 0, false, 1, true},
        {"a request after 8.5 s", 8500, false, 4, true},
        {"the device after 8.5 s", 8500, true, 4, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!port_.isOpen()) {
            port_.failOpen = false;
            clock_.advance(10000);
        }
        ASSERT_TRUE(port_.isOpen());
        port_.failOpen = true;
        port_.unplug();
        port_.attempts = 0;
        clock_.advance(row.afterMs); // tries at 1, 3 and 7 s
        port_.failOpen = false;
        if (row.device) {
            line_.deviceAppeared();
        } else {
            ask("POWR", "?");
            turn();
            turn();
        }
        EXPECT_EQ(port_.attempts, row.attempts);
        EXPECT_EQ(port_.isOpen(), row.open);
        if (!row.device) {
            port_.deliver("80\r");
            EXPECT_EQ(replies_.back(), "0");
        }
    }
    // Requests while the line is down try it at most once a second.
    port_.failOpen = true;
    port_.unplug();
    port_.attempts = 0;
    const std::size_t answered = replies_.size();
    for (int i = 0; i < 20; ++i) {
        ask("POWR", "?");
        turn();
        turn();
        clock_.advance(100);
    }
    EXPECT_EQ(port_.attempts, 2 + 1); // two by requests, one on its own at 1 s
    EXPECT_EQ(replies_.size(), answered + 20);
    EXPECT_EQ(replies_.back(), "ERR4");
}

struct AnswerRow {
    const char* request; // "2FREZ 1": class, command, blank, parameter
    Strings line;        // the projector's replies, one per exchange; "" for none in time
    Strings writes;
    std::string reply;
};

void PrintTo(const AnswerRow& row, std::ostream* os) { *os << row.request; }

const Strings kOn = {"00\r", "\x06"}; // a set with the power on: the status read, the ACK

class Answers : public ProjectorSide, public ::testing::WithParamInterface<AnswerRow> {};

TEST_P(Answers, EachRequestAsItsClassDefinesIt) {
    const AnswerRow& row = GetParam();
    const std::string request = row.request;
    const std::size_t blank = request.find(' ');
    ask(request.substr(1, blank - 1).c_str(), request.substr(blank + 1).c_str(), request[0]);
    for (const std::string& reply : row.line) {
        turn();
        if (reply.empty())
            clock_.advance(1000); // the reply window closes
        else
            port_.deliver(reply);
    }
    turn();
    EXPECT_EQ(port_.writes, row.writes);
    EXPECT_EQ(replies_, Strings{row.reply});
}

INSTANTIATE_TEST_SUITE_P(
    ClassTwo, Answers,
    ::testing::Values(
        AnswerRow{"1CLSS ?", {}, {}, "2"}, AnswerRow{"2CLSS ?", {}, {}, "ERR1"},
        // Class 1 commands that Class 2 does not define again, and those with nothing behind.
        AnswerRow{"2POWR ?", {}, {}, "ERR1"}, AnswerRow{"2AVMT 31", {}, {}, "ERR1"},
        AnswerRow{"2NAME ?", {}, {}, "ERR1"}, AnswerRow{"2IRES ?", {}, {}, "ERR1"},
        AnswerRow{"2RRES ?", {}, {}, "ERR1"}, AnswerRow{"2FILT ?", {}, {}, "ERR1"},
        AnswerRow{"2SVOL 1", {}, {}, "ERR1"}, AnswerRow{"2MVOL 0", {}, {}, "ERR1"},
        AnswerRow{"2ABCD ?", {}, {}, "ERR1"}, AnswerRow{"1FREZ ?", {}, {}, "ERR1"},
        AnswerRow{"1SNUM ?", {}, {}, "ERR1"},
        // From the configuration, empty where it says nothing.
        AnswerRow{"2SNUM ?", {}, {}, "SN-1234"}, AnswerRow{"2SVER ?", {}, {}, "1.02"},
        AnswerRow{"2RLMP ?", {}, {}, "LMP-1 LMP-2"}, AnswerRow{"2RFIL ?", {}, {}, ""},
        AnswerRow{"2SNUM 1", {}, {}, "ERR2"}, AnswerRow{"2INNM ?11", {}, {}, "INPUT 1"},
        AnswerRow{"2INNM ?31",
                  {},
                  {},
                  "P\xc3\xb6"
                  "dium PC"},
        AnswerRow{"2INNM ?52", {}, {}, "ERR2"}, // input 5 cannot be selected
        AnswerRow{"2INNM ?21", {}, {}, "ERR2"}, AnswerRow{"2INNM ?3A", {}, {}, "ERR2"},
        AnswerRow{"2INNM ?", {}, {}, "ERR2"}, AnswerRow{"2INNM 11", {}, {}, "ERR2"},
        // Inputs: the same codes in both classes.
        AnswerRow{"2INST ?", {}, {}, "11 12 31 51"}, AnswerRow{"2INST 1", {}, {}, "ERR2"},
        AnswerRow{"2INPT 31", kOn, {"CR0\r", "C07\r"}, "OK"},
        AnswerRow{"2INPT 31", {"80\r"}, {"CR0\r"}, "ERR3"},
        AnswerRow{"2INPT ?", {"3\r"}, {"CR1\r"}, "31"},
        AnswerRow{"2INPT ?", {""}, {"CR1\r"}, "ERR4"}, AnswerRow{"2INPT 3A", {}, {}, "ERR2"},
        AnswerRow{"2INPT 61", {}, {}, "ERR2"}, AnswerRow{"1INPT 3A", {}, {}, "ERR2"},
        // Freeze, only with the power on.
        AnswerRow{"2FREZ 1", kOn, {"CR0\r", "C43\r"}, "OK"},
        AnswerRow{"2FREZ 0", kOn, {"CR0\r", "C44\r"}, "OK"},
        AnswerRow{"2FREZ 1", {"80\r"}, {"CR0\r"}, "ERR3"},
        AnswerRow{"2FREZ 1", {"40\r"}, {"CR0\r"}, "ERR3"}, // warming up
        AnswerRow{"2FREZ 1", {""}, {"CR0\r"}, "ERR4"},
        AnswerRow{"2FREZ 1", {"00\r", ""}, {"CR0\r", "C43\r"}, "ERR4"},
        AnswerRow{"2FREZ 2", {}, {}, "ERR2"}, AnswerRow{"2FREZ ?", {}, {}, "0"}),
    [](const auto& info) { return std::to_string(info.index); });

TEST_F(ProjectorSide, FreezeIsWhatTheServiceLastSetThroughAnyFrontEndUntilThePowerGoesOff) {
    const auto frozen = [this] {
        ask("FREZ", "?", '2');
        return replies_.back();
    };
    ask("FREZ", "1", '2');
    turn();
    port_.deliver("00\r");
    turn();
    port_.deliver("\x06");
    ASSERT_EQ(replies_.back(), "OK");
    EXPECT_EQ(frozen(), "1");
    // The panel on the web unfreezes it.
    service::ProjectorService::Request request;
    request.command = "C44";
    request.sender = {service::Sender::Kind::Web, "127.0.0.1", 2};
    line_.exchange(request, [](service::ProjectorService::Outcome, const ExchangeResult&) {});
    turn();
    port_.deliver("\x06");
    EXPECT_EQ(frozen(), "0");
    ask("FREZ", "1", '2'); // the set made the status unknown: it is read again
    turn();
    port_.deliver("00\r");
    turn();
    port_.deliver("\x06");
    EXPECT_EQ(frozen(), "1");
    clock_.advance(1000);
    ask("POWR", "?");
    turn();
    port_.deliver("20\r"); // cooling down: off
    EXPECT_EQ(replies_.back(), "2");
    EXPECT_EQ(frozen(), "0");
    EXPECT_EQ(port_.writes, (Strings{"CR0\r", "C43\r", "C44\r", "CR0\r", "C43\r", "CR0\r"}));
}

} // namespace
} // namespace trv::bridge::pjlink
