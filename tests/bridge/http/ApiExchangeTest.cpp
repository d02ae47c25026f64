// The API's sends and reads on a fake line and a hand-driven clock.
#include "bridge/http/ApiExchange.h"
#include "bridge/http/CommandCheck.h"
#include "support/Fakes.h"
#include "support/Spin.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace trv::http {
namespace {

using service::ProjectorService;
using service::Sender;
using Strings = std::vector<std::string>;

class ApiExchangeTest : public ::testing::Test {
protected:
    ApiExchangeTest() { service.start(); }

    using Ask = void (ApiExchange::*)(const QByteArray&, const Sender&,
                                      std::function<void(ApiReply)>);
    void ask(Ask what, const QByteArray& body) {
        (api.*what)(body, sender, [this](ApiReply reply) { replies.push_back(std::move(reply)); });
    }
    // The event loop turns until an answer came; true if one did.
    bool answered(std::size_t count = 1) {
        return testing::spinUntil([&] { return replies.size() >= count; }, 2000);
    }
    static void turns() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    QJsonValue json(const ApiReply& reply) const {
        const QJsonDocument document = QJsonDocument::fromJson(reply.body);
        return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    }

    testing::FakeSerialPort port;
    testing::ManualClock clock;
    ProjectorService service{port, clock, {}, {}};
    ApiExchange api{service};
    Sender sender{Sender::Kind::Api, "127.0.0.1", 3};
    std::vector<ApiReply> replies;
};

struct BadRow {
    const char* what;
    bool read; // POST /api/read, else /api/send
    QByteArray body;
};

void PrintTo(const BadRow& row, std::ostream* out) { *out << row.what; }

class RefusedRequests : public ApiExchangeTest, public ::testing::WithParamInterface<BadRow> {};

TEST_P(RefusedRequests, AreAnswered400AtOnceAndSendNothing) {
    const BadRow& row = GetParam();
    ask(row.read ? &ApiExchange::read : &ApiExchange::send, row.body);
    ASSERT_EQ(replies.size(), 1u) << row.what;
    EXPECT_EQ(replies[0].status, 400) << row.what;
    EXPECT_FALSE(json(replies[0])[QStringLiteral("error")].toString().isEmpty()) << row.what;
    turns();
    EXPECT_EQ(port.writes, Strings{}) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedRequests,
    ::testing::Values(
        BadRow{"not JSON", false, "C00"}, BadRow{"not an object", false, R"(["C00"])"},
        BadRow{"no command", false, "{}"}, BadRow{"a number", false, R"({"command":0})"},
        BadRow{"empty", false, R"({"command":""})"},
        BadRow{"carriage return inside", false, R"({"command":"C0\r0"})"},
        BadRow{"delete", false, R"({"command":"C00\u007f"})"},
        BadRow{"not ASCII", false, R"({"command":"C0\u00e9"})"},
        BadRow{"257 characters", false, R"({"command":")" + QByteArray(257, 'C') + R"("})"},
        BadRow{"unknown address", false, R"({"command":"C00","address":"A005"})"},
        BadRow{"address in lower case", false, R"({"command":"C00","address":"a001"})"},
        BadRow{"address not a string", false, R"({"command":"C00","address":1})"},
        BadRow{"names not an array", true, R"({"names":"status"})"},
        BadRow{"no names", true, R"({"names":[]})"},
        BadRow{"six names", true,
               R"({"names":["status","status","status","status","status","status"]})"},
        BadRow{"an unknown name after a known one", true, R"({"names":["status","power"]})"},
        BadRow{"a name not a string", true, R"({"names":[0]})"},
        BadRow{"read body not JSON", true, "status"}),
    [](const ::testing::TestParamInfo<BadRow>& info) { return std::to_string(info.index); });

TEST_F(ApiExchangeTest, SendAnswersWithTheExchangeRepliedOrNot) {
    ask(&ApiExchange::send, R"({"command":"C00","address":"A001"})");
    ASSERT_TRUE(testing::spinUntil([&] { return !port.writes.empty(); }, 2000));
    EXPECT_EQ(port.writes, Strings{"A001C00\r"});
    port.deliver("\x06");
    ASSERT_TRUE(answered());
    EXPECT_EQ(replies[0].status, 200);
    const QJsonObject done = json(replies[0]).toObject();
    EXPECT_EQ(done[QStringLiteral("command")], QStringLiteral("C00"));
    EXPECT_EQ(done[QStringLiteral("out")], QStringLiteral("A001C00\r"));
    EXPECT_EQ(done[QStringLiteral("in")], QStringLiteral("\x06"));
    EXPECT_EQ(done[QStringLiteral("replied")], true);
    EXPECT_EQ(done.keys(), (QStringList{"command", "decoded", "in", "out", "replied", "replyMs",
                                        "rx", "sentAtMs", "tx", "value"}));

    // The longest command goes out; without a reply the window ends it, still 200.
    const QByteArray longest(CommandCheck::kLongestCommand, 'C');
    ask(&ApiExchange::send, R"({"command":")" + longest + R"("})");
    ASSERT_TRUE(testing::spinUntil([&] { return port.writes.size() == 2; }, 2000));
    EXPECT_EQ(port.writes[1], longest.toStdString() + '\r');
    clock.advance(1000);
    ASSERT_TRUE(answered(2));
    EXPECT_EQ(replies[1].status, 200);
    EXPECT_EQ(json(replies[1])[QStringLiteral("replied")], false);
}

TEST_F(ApiExchangeTest, ReadsGoOutOneAfterTheOtherInTheOrderAsked) {
    ask(&ApiExchange::read, R"({"names":["lamp","status"]})");
    ASSERT_TRUE(testing::spinUntil([&] { return !port.writes.empty(); }, 2000));
    EXPECT_EQ(port.writes, Strings{"CR3\r"}); // the next waits for this one
    port.deliver("01234\r");
    ASSERT_TRUE(testing::spinUntil([&] { return port.writes.size() == 2; }, 2000));
    EXPECT_EQ(port.writes[1], "CR0\r");
    port.deliver("00\r");
    ASSERT_TRUE(answered());
    EXPECT_EQ(replies[0].status, 200);
    const QJsonArray both = json(replies[0]).toArray();
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both[0][QStringLiteral("command")], QStringLiteral("CR3"));
    EXPECT_EQ(both[0][QStringLiteral("value")], 1234);
    EXPECT_EQ(both[1][QStringLiteral("command")], QStringLiteral("CR0"));
}

TEST_F(ApiExchangeTest, HoldOfAnotherIs409WithWhoHolds) {
    const Sender holder{Sender::Kind::Web, "127.0.0.2", 9};
    ASSERT_EQ(service.startHold("C47", std::nullopt, holder),
              ProjectorService::HoldOutcome::Started);
    const std::size_t before = port.writes.size();
    ask(&ApiExchange::send, R"({"command":"C00"})");
    ASSERT_TRUE(answered());
    EXPECT_EQ(replies[0].status, 409);
    EXPECT_EQ(json(replies[0])[QStringLiteral("error")], QStringLiteral("held by web 127.0.0.2"));
    for (std::size_t i = before; i < port.writes.size(); ++i)
        EXPECT_EQ(port.writes[i], "C47\r");
}

TEST(ApiExchangeLineDown, Is503WithTheReason) {
    testing::FakeSerialPort port;
    port.failOpen = true;
    testing::ManualClock clock;
    ProjectorService service{port, clock, {}, {}};
    service.start();
    ApiExchange api{service};
    std::vector<ApiReply> replies;
    api.send(R"({"command":"C00"})", Sender{Sender::Kind::Api, "127.0.0.1", 3},
             [&](ApiReply reply) { replies.push_back(std::move(reply)); });
    ASSERT_TRUE(testing::spinUntil([&] { return !replies.empty(); }, 2000));
    EXPECT_EQ(replies[0].status, 503);
    const QJsonObject error = QJsonDocument::fromJson(replies[0].body).object();
    EXPECT_EQ(error[QStringLiteral("error")], QStringLiteral("line down"));
    EXPECT_EQ(error[QStringLiteral("reason")].toString().toStdString(),
              port.failReason.toStdString());
    EXPECT_EQ(port.writes, Strings{});
}

} // namespace
} // namespace trv::http
