// What /metrics says: the exposition format's numbers and escapes, and the bridge's families
// with a sample only for what is known.
#include "bridge/metrics/BridgeMetrics.h"
#include "bridge/metrics/MetricsText.h"

#include <gtest/gtest.h>

namespace trv::metrics {
namespace {

bool has(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos || text.rfind(line + "\n", 0) == 0;
}

TEST(MetricsText, NumbersAndEscapesAsTheFormatWritesThem) {
    const struct {
        double value;
        const char* text;
    } numbers[] = {{0, "0"},         {4442400, "4442400"}, {9000000, "9000000"}, {31.5, "31.5"},
                   {0.005, "0.005"}, {-12.25, "-12.25"},   {1.0 / 0.0, "+Inf"}};
    for (const auto& row : numbers)
        EXPECT_EQ(MetricsText::number(row.value), row.text) << row.text;
    EXPECT_EQ(MetricsText::escapeLabel("a\\b\"c\nd"), "a\\\\b\\\"c\\nd");
    EXPECT_EQ(MetricsText::escapeHelp("a\\b\"c\nd"), "a\\\\b\"c\\nd");

    MetricsText out;
    out.family("x_total", "counter", "Things.");
    out.sample("x_total", {{"a", "1"}, {"b", "q\""}}, 3);
    EXPECT_EQ(out.text(), "# HELP x_total Things.\n# TYPE x_total counter\n"
                          "x_total{a=\"1\",b=\"q\\\"\"} 3\n");
}

TEST(BridgeMetrics, KnownValuesAreSampledAndUnknownOnesLeftOut) {
    BridgeMetrics m;
    m.name = "Room \"101\"";
    m.version = "1.2.3";
    m.port = "/dev/ttyUSB0";
    m.lineUp = true;
    m.pollS = 60;
    const std::string unknown = m.text();
    EXPECT_TRUE(has(unknown, "# TYPE trv_power_state gauge"));
    EXPECT_EQ(unknown.find("trv_power_state{"), std::string::npos);
    EXPECT_EQ(unknown.find("\ntrv_lamp_use_seconds "), std::string::npos);
    EXPECT_EQ(unknown.find("trv_temperature_celsius{"), std::string::npos);
    EXPECT_EQ(unknown.find("\ntrv_values_age_seconds "), std::string::npos);
    EXPECT_TRUE(has(unknown, "trv_info{name=\"Room \\\"101\\\"\",model=\"TRV-M5400\","
                             "version=\"1.2.3\",port=\"/dev/ttyUSB0\"} 1"));

    m.power = ReplyValue::Status::LampFault;
    m.lampHours = 1234;
    m.temperatures = {{30, 31.5, 40.25}};
    m.valuesAgeS = 12.5;
    m.statistics.exchanges = 9;
    m.statistics.noReply = 2;
    m.statistics.replied(7);   // <= 0.01
    m.statistics.replied(30);  // <= 0.05
    m.statistics.replied(900); // <= 1
    m.pjlinkLoginFailures = 4;
    const std::string known = m.text();
    for (const char* line : {
             "trv_power_state{state=\"lamp-fault\"} 1",
             "trv_power_state{state=\"on\"} 0",
             "trv_power_state{state=\"warm-up\"} 0",
             "trv_lamp_use_seconds 4442400",
             "trv_temperature_celsius{sensor=\"2\"} 31.5",
             "trv_temperature_celsius{sensor=\"3\"} 40.25",
             "trv_values_age_seconds 12.5",
             "trv_exchanges_total 9",
             "trv_exchange_failures_total{reason=\"no-reply\"} 2",
             "trv_exchange_failures_total{reason=\"lost\"} 0",
             "trv_exchange_duration_seconds_bucket{le=\"0.005\"} 0",
             "trv_exchange_duration_seconds_bucket{le=\"0.01\"} 1",
             "trv_exchange_duration_seconds_bucket{le=\"0.05\"} 2",
             "trv_exchange_duration_seconds_bucket{le=\"1\"} 3",
             "trv_exchange_duration_seconds_bucket{le=\"+Inf\"} 3",
             "trv_exchange_duration_seconds_sum 0.937",
             "trv_exchange_duration_seconds_count 3",
             "trv_login_failures_total{frontend=\"pjlink\"} 4",
             "trv_poll_interval_seconds 60",
         })
        EXPECT_TRUE(has(known, line)) << line;
}

} // namespace
} // namespace trv::metrics
