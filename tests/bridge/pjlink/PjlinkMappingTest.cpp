#include "bridge/pjlink/PjlinkMapping.h"

#include <gtest/gtest.h>

namespace trv::bridge::pjlink {
namespace {

TEST(PjlinkMapping, StatusReadsBecomePowerAndErrorStatus) {
    const struct {
        const char* reply;
        const char* power; // "" for ERR4
        const char* errors;
    } rows[] = {
        {"00\r", "1", "000000"},
        {"80\r", "0", "000000"},
        {"40\r", "3", "000000"},
        {"20\r", "2", "000000"},
        {"10\r", "", "000002"},
        {"08\r", "1", "002000"},
        {"88\r", "0", "002000"},
        {"18\r", "", "002002"},
        {"21\r", "2", "020000"},
        {"81\r", "0", "020000"},
        // A reply in two pieces decodes once the digits are there, as on the panel.
        {"00", "1", "000000"},
    };
    for (const auto& row : rows) {
        const auto status = decodeStatus(row.reply);
        ASSERT_TRUE(status) << row.reply;
        EXPECT_EQ(status->powerValue().value_or(""), row.power) << row.reply;
        EXPECT_EQ(status->errorValue(), row.errors) << row.reply;
    }
    for (const char* nonsense : {"99\r", "", "\x06", "?\r", "0"})
        EXPECT_FALSE(decodeStatus(nonsense)) << nonsense;
}

TEST(PjlinkMapping, InputAndLampReadsDecodeOnlyWhatThePanelDecodes) {
    EXPECT_EQ(decodeInput("1\r"), 1);
    EXPECT_EQ(decodeInput("5\r"), 5);
    EXPECT_FALSE(decodeInput("6\r"));
    EXPECT_EQ(decodeLampHours("01234\r"), 1234);
    EXPECT_EQ(decodeLampHours("00000\r"), 0);
    EXPECT_FALSE(decodeLampHours("1234\r"));
    EXPECT_FALSE(decodeLampHours("01234"));
    EXPECT_FALSE(decodeLampHours("0123a\r"));
}

TEST(PjlinkMapping, InputMapListsWhatCanBeSelected) {
    std::string error;
    const auto standard = InputMap::parse(InputMap::kDefault, error);
    ASSERT_TRUE(standard) << error;
    EXPECT_EQ(standard->list(), "11 12 31 51"); // input 5 is only ever read
    EXPECT_EQ(standard->selectable("31"), 3);
    EXPECT_FALSE(standard->selectable("52"));
    EXPECT_FALSE(standard->selectable("21"));
    EXPECT_EQ(standard->code(5), "52");
    const auto custom = InputMap::parse("2=32,1=33", error);
    ASSERT_TRUE(custom) << error;
    EXPECT_EQ(custom->list(), "33 32");
    EXPECT_FALSE(custom->code(3));
    for (const char* bad : {"", "1=11,2=11", "6=11", "1=61", "1=10", "1:11", "1=11,x"}) {
        EXPECT_FALSE(InputMap::parse(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

} // namespace
} // namespace trv::bridge::pjlink
