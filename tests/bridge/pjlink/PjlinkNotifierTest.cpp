// What the notifier sees of the line's service on a fake line and a hand-driven clock.
#include "bridge/pjlink/PjlinkNotifier.h"
#include "support/Fakes.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace trv::bridge::pjlink {
namespace {

TEST(PjlinkNotifier, AcknowledgedCommandsToTheUnitAndEveryonesReadsAndTheLinesReturn) {
    testing::FakeSerialPort port;
    testing::ManualClock clock;
    service::ProjectorService line(port, clock, {"/dev/null-test", "A001"}, {});
    std::string error;
    std::vector<std::string> notified;
    PjlinkNotifier notifier(line, *InputMap::parse(InputMap::kDefault, error),
                            [&](const NotifyRules::Notice& notice) {
                                notified.push_back(notice.command + '=' + notice.value);
                            });
    line.start();
    notifier.serving();
    const struct {
        const char* command;
        const char* address; // nullptr: the configured one
        service::Sender::Kind from;
        const char* reply;
        std::vector<std::string> notified;
    } rows[] = {
        {"CR0", nullptr, service::Sender::Kind::Bridge, "80\r", {}},
        {"C00", "A002", service::Sender::Kind::Web, "\x06", {}}, // another unit's
        {"CR0", nullptr, service::Sender::Kind::Bridge, "80\r", {}},
        {"C00", nullptr, service::Sender::Kind::Api, "?\r", {}}, // not taken
        {"C00", nullptr, service::Sender::Kind::Pjlink, "\x06", {"POWR=1"}},
        {"CR0", nullptr, service::Sender::Kind::Web, "00\r", {}},
        {"CR1", nullptr, service::Sender::Kind::Bridge, "1\r", {}},
        {"C07", nullptr, service::Sender::Kind::Web, "\x06", {"INPT=31"}},
        {"CR1", nullptr, service::Sender::Kind::Bridge, "3\r", {}},
        {"CR1", "A002", service::Sender::Kind::Bridge, "2\r", {}},
        {"CR1", nullptr, service::Sender::Kind::Bridge, "2\r", {"INPT=12"}},
        {"C47", nullptr, service::Sender::Kind::Web, "\x06", {}},
        {"CR0", nullptr, service::Sender::Kind::Bridge, "28\r", {"POWR=0", "ERST=002000"}},
    };
    ASSERT_EQ(notified, std::vector<std::string>{"LKUP="});
    for (const auto& row : rows) {
        notified.clear();
        service::ProjectorService::Request request;
        request.command = row.command;
        if (row.address)
            request.address = row.address;
        request.sender = {row.from, "127.0.0.1", 1};
        bool done = false;
        line.exchange(request, [&](service::ProjectorService::Outcome, const ExchangeResult&) {
            done = true;
        });
        QCoreApplication::processEvents();
        port.deliver(row.reply);
        EXPECT_TRUE(done) << row.command;
        EXPECT_EQ(notified, row.notified) << row.command << ' ' << (row.address ? row.address : "");
    }
    // The line lost and back: ready again.
    notified.clear();
    port.unplug();
    clock.advance(service::ProjectorService::kFirstRetryMs);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(notified, std::vector<std::string>{"LKUP="});
}

} // namespace
} // namespace trv::bridge::pjlink
