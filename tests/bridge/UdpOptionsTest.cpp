// The options of PJLink over UDP: udp, udp-port, notify and mac, checked as they are given.
#include "bridge/BridgeOptions.h"

#include <gtest/gtest.h>

namespace trv::bridge {
namespace {

TEST(UdpOptions, EachValueIsCheckedAndTargetsComeCommaSeparatedOrRepeated) {
    const struct {
        QStringList arguments;
        const char* refusal; // nullptr: taken
        const char* notify;  // the targets taken, as the log names them
        const char* mac;
    } rows[] = {
        {{}, nullptr, "", ""},
        {{"--notify", "192.0.2.7,panel.example:4353", "--notify", "192.0.2.7:4352"},
         nullptr,
         "192.0.2.7:4352 panel.example:4353",
         ""},
        {{"--pjlink-listen", "[::]:4352", "--notify", "[2001:db8::7]:9,2001:db8::8,192.0.2.1"},
         nullptr,
         "[2001:db8::7]:9 [2001:db8::8]:4352 192.0.2.1:4352",
         ""},
        {{"--mac", "02-00-00-AB-cd-12"}, nullptr, "", "02:00:00:ab:cd:12"},
        {{"--udp", "off", "--pjlink-listen", "127.0.0.1:0", "--notify", "192.0.2.7"},
         nullptr,
         "192.0.2.7:4352",
         ""},
        {{"--udp", "maybe"}, "bad value for --udp: \"maybe\" (on or off)", "", ""},
        {{"--udp-port", "65536"}, "bad value for --udp-port: \"65536\" (0 to 65535)", "", ""},
        {{"--notify", "192.0.2.7:0"}, "bad value for --notify: \"192.0.2.7:0\"", "", ""},
        {{"--notify", "under_score"}, "bad value for --notify: \"under_score\"", "", ""},
        {{"--notify", "255.255.255.255"}, "not a broadcast", "", ""},
        {{"--notify", "[192.0.2.7]:4352"}, "only an IPv6 address goes in brackets", "", ""},
        {{"--notify", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17"}, "at most 16", "", ""},
        {{"--notify", "[::1]:4352"}, "not reachable from pjlink-listen 0.0.0.0:4352", "", ""},
        {{"--pjlink-listen", "127.0.0.1:4352", "--notify", "192.0.2.7"},
         "(this machine only)",
         "",
         ""},
        {{"--mac", "02:00:00:00:00"}, "bad value for --mac: \"02:00:00:00:00\"", "", ""},
    };
    for (const auto& row : rows) {
        const std::string given = row.arguments.join(u' ').toStdString();
        QString error;
        const auto options =
            BridgeOptions::parse(QStringList{"--port", "/dev/null"} + row.arguments, error);
        if (row.refusal) {
            EXPECT_FALSE(options) << given;
            EXPECT_TRUE(error.contains(QLatin1String(row.refusal)))
                << given << ": " << error.toStdString();
            continue;
        }
        ASSERT_TRUE(options) << given << ": " << error.toStdString();
        QStringList targets;
        for (const auto& target : options->notify)
            targets << target.text();
        EXPECT_EQ(targets.join(u' ').toStdString(), row.notify) << given;
        EXPECT_EQ(options->mac.toStdString(), row.mac) << given;
    }
}

} // namespace
} // namespace trv::bridge
