#include "link/ProjectorLink.h"
#include "support/LinkFixture.h"

#include <gtest/gtest.h>

namespace trv {
namespace {

using testing::FakeSerialPort;
using testing::LinkTest;
using testing::ManualClock;

struct DecodeRow {
    const char* name;
    const char* command;
    std::string reply;
    std::string status; // empty: the status line keeps what it showed
};

void PrintTo(const DecodeRow& row, std::ostream* os) { *os << row.name; }

class Decoding : public ::testing::TestWithParam<DecodeRow> {
protected:
    // Sends the row's command after an input read left " Input 1" on the status line and
    // returns the status line after the reply arrived in `pieceSize` pieces.
    static std::string run(std::size_t pieceSize) {
        FakeSerialPort serial;
        serial.open();
        ManualClock clock;
        ProjectorLink link(serial, clock);
        link.commandText = "CR1\r";
        link.Hyouji(link.commandText, 1);
        serial.deliver("1\r");
        link.commandText = std::string(GetParam().command) + "\r";
        link.Hyouji(link.commandText, 1);
        serial.deliver(""); // an empty read is no arrival
        serial.deliverPieces(GetParam().reply, pieceSize);
        return link.display().status;
    }
};

TEST_P(Decoding, WholeInTwoAndSingleCharacterPieces) {
    const std::string expected = GetParam().status.empty() ? " Input 1" : GetParam().status;
    EXPECT_EQ(run(GetParam().reply.size()), expected);
    EXPECT_EQ(run((GetParam().reply.size() + 1) / 2), expected);
    // Lamp time and temperatures act only at exactly 6 and 18 characters, which single pieces
    // also reach; the others act at every arrival.
    EXPECT_EQ(run(1), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Decoding,
    ::testing::Values(
        DecodeRow{"PowerOn", "CR0", "00\r", " Power ON"},
        DecodeRow{"StandBy", "CR0", "80\r", " Stand by"},
        DecodeRow{"CountDown", "CR0", "40\r", " Count down"},
        DecodeRow{"Cooling", "CR0", "20\r", " Cooling down"},
        DecodeRow{"PowerAbnormal", "CR0", "10\r", " Power abnormality"},
        DecodeRow{"Temp08", "CR0", "08\r", " Temperature abnormality"},
        DecodeRow{"Temp18", "CR0", "18\r", " Temperature abnormality"},
        DecodeRow{"Temp28", "CR0", "28\r", " Temperature abnormality"},
        DecodeRow{"Temp48", "CR0", "48\r", " Temperature abnormality"},
        DecodeRow{"Temp88", "CR0", "88\r", " Temperature abnormality"},
        DecodeRow{"Lamp21", "CR0", "21\r", " Lamp Failure"},
        DecodeRow{"Lamp81", "CR0", "81\r", " Lamp Failure"},
        DecodeRow{"Status99", "CR0", "99\r", ""}, DecodeRow{"StatusAck", "CR0", "\x06", ""},
        DecodeRow{"Input1", "CR1", "1\r", " Input 1"},
        DecodeRow{"Input2", "CR1", "2\r", " Input 2"},
        DecodeRow{"Input3", "CR1", "3\r", " Input 3"}, DecodeRow{"Wired", "CR1", "4\r", " Wired"},
        DecodeRow{"Wireless", "CR1", "5\r", " Wireless/Viewer"},
        DecodeRow{"Input6", "CR1", "6\r", ""}, DecodeRow{"Normally", "CR4", "11\r", " Normally"},
        DecodeRow{"TopBottom", "CR4", "10\r", " Top/Bottom reversal"},
        DecodeRow{"LeftRight", "CR4", "01\r", " Left/Right reversal"},
        DecodeRow{"Both", "CR4", "00\r", " Top/Bottom , Left/Right reversal"},
        DecodeRow{"Setting22", "CR4", "22\r", ""},
        DecodeRow{"LampTime", "CR3", "01234\r", "   1 2 3 4   Hour Use"},
        DecodeRow{"LampZeros", "CR3", "00000\r", std::string(12, ' ') + " Hour Use"},
        DecodeRow{"LampInnerZeros", "CR3", "10203\r", " 1 0 2 0 3   Hour Use"},
        DecodeRow{"LampShort", "CR3", "123\r", ""},
        DecodeRow{"Temps", "CR6", "12345 23456 34567\r",
                  " 1 2 3 4 5 deg C 2 3 4 5 6 deg C 3 4 5 6 7 deg C "},
        DecodeRow{"TempsShort", "CR6", "1234 2345 3456\r", ""},
        DecodeRow{"LampModeRead", "CR7", "00\r", ""},
        DecodeRow{"LowerCaseCommand", "cr0", "00\r", ""}),
    [](const auto& info) { return std::string(info.param.name); });

using DecodingLink = LinkTest;

TEST_F(DecodingLink, WorkedExampleLengths) {
    send("CR3");
    serial.deliver("01234\r");
    EXPECT_EQ(link.display().status.size(), 21u);
    EXPECT_EQ(link.display().rx, " 0 1 2 3 4  [CR] ");
}

TEST_F(DecodingLink, LampTimeNeverDecodedWhenSixIsPassedWithinOneArrival) {
    send("CR3");
    serial.deliver("01234");
    EXPECT_EQ(link.display().status, "");
    serial.deliver("\rX");
    EXPECT_EQ(link.display().status, "");
}

TEST_F(DecodingLink, AnyUnitAddressMeansNoDecoding) {
    link.UnitAddress = "A001";
    send("CR0");
    EXPECT_EQ(serial.writes.back(), "A001CR0\r");
    serial.deliver("00\r");
    EXPECT_EQ(link.display().rx, " 0 0  [CR] "); // the echo holds no address
    EXPECT_EQ(link.display().status, "");
}

TEST_F(DecodingLink, StatusShownAtTheFirstArrivalThatCompletesIt) {
    send("CR0");
    serial.deliver("0");
    EXPECT_EQ(link.display().rx, " 0 ");
    EXPECT_EQ(link.display().status, "");
    serial.deliver("0\r");
    EXPECT_EQ(link.display().status, " Power ON");
    EXPECT_TRUE(link.display().legendCr);
}

} // namespace
} // namespace trv
