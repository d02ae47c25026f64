#include "bridge/http/EventJson.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace trv::http {
namespace {

using service::Sender;
using service::ServiceEvent;

constexpr WallTime kAt{1796667601123, 3600}; // 2026-12-07T19:20:01.123+01:00

ServiceEvent traffic(TrafficLine::Direction direction, std::string text, std::string bytes,
                     Sender sender = {}) {
    ServiceEvent event;
    event.kind = ServiceEvent::Kind::Traffic;
    event.traffic = {kAt, "COM3", direction, std::move(text), std::move(bytes)};
    event.sender = std::move(sender);
    return event;
}

ServiceEvent display(ProjectorLink::Display shown) {
    ServiceEvent event;
    event.kind = ServiceEvent::Kind::Display;
    event.display = std::move(shown);
    return event;
}

ServiceEvent line(service::LineState state) {
    ServiceEvent event;
    event.kind = ServiceEvent::Kind::Line;
    event.line = std::move(state);
    return event;
}

ServiceEvent hold(service::HoldState state) {
    ServiceEvent event;
    event.kind = ServiceEvent::Kind::Hold;
    event.hold = std::move(state);
    return event;
}

const Sender kWeb{Sender::Kind::Web, "127.0.0.2", 7};

struct Row {
    const char* what;
    ServiceEvent event;
    std::uint64_t client;
    const char* json; // compact, keys in order; nullptr: no message
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.what; }

class EventMessages : public ::testing::TestWithParam<Row> {};

TEST_P(EventMessages, AreTheContractsMessage) {
    const Row& row = GetParam();
    const std::optional<QJsonObject> message = eventJson(row.event, row.client);
    if (!row.json) {
        EXPECT_FALSE(message) << row.what;
        return;
    }
    ASSERT_TRUE(message) << row.what;
    EXPECT_EQ(QJsonDocument(*message).toJson(QJsonDocument::Compact).toStdString(), row.json)
        << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, EventMessages,
    ::testing::Values(
        Row{"own send", traffic(TrafficLine::Direction::Tx, " C 0 0  [CR] ", "C00\r", kWeb), 7,
            R"({"dir":"TX","hex":"43 30 30 0D","mine":true,"text":" C 0 0  [CR] ",)"
            R"("time":"2026-12-07T19:20:01.123+01:00","type":"traffic","who":"web 127.0.0.2"})"},
        Row{"another's send", traffic(TrafficLine::Direction::Tx, " C 0 0 ", "C00", kWeb), 8,
            R"({"dir":"TX","hex":"43 30 30","mine":false,"text":" C 0 0 ",)"
            R"("time":"2026-12-07T19:20:01.123+01:00","type":"traffic","who":"web 127.0.0.2"})"},
        Row{"the bridge's own read is no client's",
            traffic(TrafficLine::Direction::Tx, " C R 0 ", "CR0", Sender{}), 0,
            R"({"dir":"TX","hex":"43 52 30","mine":false,"text":" C R 0 ",)"
            R"("time":"2026-12-07T19:20:01.123+01:00","type":"traffic","who":"bridge"})"},
        Row{"arrival, a byte of the line kept as it came",
            traffic(TrafficLine::Direction::Rx, " ? ", "\xe9", kWeb), 7,
            R"({"dir":"RX","hex":"E9","text":" ? ",)"
            R"("time":"2026-12-07T19:20:01.123+01:00","type":"traffic"})"},
        Row{"event with a reason in UTF-8",
            traffic(TrafficLine::Direction::Event, "lost: Ger\xc3\xa4t weg", ""), 7,
            "{\"dir\":\"--\",\"hex\":\"\",\"text\":\"lost: Ger\xc3\xa4t weg\","
            "\"time\":\"2026-12-07T19:20:01.123+01:00\",\"type\":\"traffic\"}"},
        Row{"event text that is not UTF-8",
            traffic(TrafficLine::Direction::Event, "lost: \xe9", ""), 7,
            "{\"dir\":\"--\",\"hex\":\"\",\"text\":\"lost: \xc3\xa9\","
            "\"time\":\"2026-12-07T19:20:01.123+01:00\",\"type\":\"traffic\"}"},
        Row{"displays, blanks kept",
            display({" C R 0  [CR] ", " 8 0  [CR] ", " Power ON", false, true, false}), 7,
            R"({"ack":false,"cr":true,"rx":" 8 0  [CR] ","space":false,"status":" Power ON",)"
            R"("tx":" C R 0  [CR] ","type":"display"})"},
        Row{"line down", line({false, "/dev/ttyUSB0", "No such device", 8000}), 7,
            R"({"port":"/dev/ttyUSB0","reason":"No such device","retryMs":8000,"type":"line",)"
            R"("up":false})"},
        Row{"line up", line({true, "COM3", "", -1}), 7,
            R"({"port":"COM3","reason":"","retryMs":-1,"type":"line","up":true})"},
        Row{"own hold", hold({true, "C47", kWeb}), 7,
            R"({"active":true,"command":"C47","mine":true,"type":"hold","who":"web 127.0.0.2"})"},
        Row{"another's hold", hold({true, "C47", kWeb}), 9,
            R"({"active":true,"command":"C47","mine":false,"type":"hold","who":"web 127.0.0.2"})"},
        Row{"hold ended", hold({false, "", {}}), 7, R"({"active":false,"type":"hold"})"},
        Row{"values are not a page's",
            [] {
                ServiceEvent event;
                event.kind = ServiceEvent::Kind::Values;
                return event;
            }(),
            7, nullptr}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::to_string(info.index); });

TEST(RecordLines, BecomeTrafficMessagesWithoutWhoAndOthersNothing) {
    const auto json = [](const std::string& line) -> std::string {
        const std::optional<QJsonObject> message = recordLineJson(line);
        return message ? QJsonDocument(*message).toJson(QJsonDocument::Compact).toStdString()
                       : "none";
    };
    EXPECT_EQ(json("2026-12-07T19:20:01.123+01:00\tCOM3\tTX\t C 0 0  [CR] \t43 30 30 0D\n"),
              R"({"dir":"TX","hex":"43 30 30 0D","text":" C 0 0  [CR] ",)"
              R"("time":"2026-12-07T19:20:01.123+01:00","type":"traffic"})");
    EXPECT_EQ(json("2026-12-07T19:20:01.123+01:00\tCOM3\t--\tlost: Ger\xc3\xa4t\t\n"),
              "{\"dir\":\"--\",\"hex\":\"\",\"text\":\"lost: Ger\xc3\xa4t\","
              "\"time\":\"2026-12-07T19:20:01.123+01:00\",\"type\":\"traffic\"}");
    EXPECT_EQ(json("2026-12-07T19:20:01.123+01:00\tCOM3\tTX\tno bytes\n"), "none");
    EXPECT_EQ(json("2026-12-07T19:20:01.123+01:00\tCOM3\tXX\ttext\t\n"), "none");
}

} // namespace
} // namespace trv::http
