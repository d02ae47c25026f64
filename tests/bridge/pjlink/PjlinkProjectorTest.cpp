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
        return settings;
    }
    void ask(const char* command, const char* parameter) {
        projector_.request(command, parameter, client_,
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
    EXPECT_EQ(replies_, (Strings{"ERR4", "1", "ERR4", "ERR4"}));
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

} // namespace
} // namespace trv::bridge::pjlink
