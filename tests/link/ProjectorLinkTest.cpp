#include "link/ProjectorLink.h"
#include "link/EchoRule.h"
#include "support/LinkFixture.h"

#include <gtest/gtest.h>
#include <random>

namespace trv {
namespace {

using testing::LinkTest;

TEST_F(LinkTest, TransmissionPutsAddressCommandAndCarriageReturnInOneWrite) {
    send("C89");
    ASSERT_EQ(serial.writes.size(), 1u);
    EXPECT_EQ(serial.writes[0], "C89\r");
    EXPECT_EQ(link.commandText, "C89\r");
    link.UnitAddress = "AFFF";
    send("C89");
    EXPECT_EQ(serial.writes[1], "AFFFC89\r");
    EXPECT_EQ(link.commandText, "AFFFC89\r");
    EXPECT_EQ(link.display().tx, " A F F F C 8 9  [CR] ");
    EXPECT_TRUE(link.replyPending());
    EXPECT_TRUE(link.timer2().isEnabled());
    EXPECT_TRUE(link.timer4().isEnabled());
}

TEST_F(LinkTest, SendingTheSameVariableTwiceDoublesTheAddress) {
    link.UnitAddress = "A002";
    link.commandText = "C00\r";
    link.Hyouji(link.commandText, 1);
    link.Hyouji(link.commandText, 1);
    EXPECT_EQ(serial.writes[1], "A002A002C00\r");
}

TEST_F(LinkTest, TransmissionEmptiesReceiveSideButKeepsStatus) {
    send("CR0");
    serial.deliver("00\r");
    ASSERT_EQ(link.display().status, " Power ON");
    send("CR0");
    EXPECT_EQ(link.display().rx, "");
    EXPECT_EQ(link.receiveBuffer(), "");
    EXPECT_EQ(link.display().status, " Power ON");
}

TEST_F(LinkTest, RefusedWriteChangesNothingButTheText) {
    send("CR0");
    serial.deliver("8");
    const ProjectorLink::Display before = link.display();
    clock.advance(500);
    serial.refuseWrite = true;
    link.UnitAddress = "A001";
    link.commandText = "C00\r";
    EXPECT_FALSE(link.Hyouji(link.commandText, 1));
    EXPECT_EQ(link.commandText, "A001C00\r");
    EXPECT_EQ(link.display(), before);
    EXPECT_EQ(link.receiveBuffer(), "8");
    EXPECT_FALSE(link.replyPending());
    // The running exchange keeps its timing: the reply window still closes at 1000 ms.
    clock.advance(499);
    EXPECT_TRUE(link.timer2().isEnabled());
    clock.advance(1);
    EXPECT_FALSE(link.timer2().isEnabled());
}

TEST_F(LinkTest, NoReplyShowsMarkFromTimeoutUntilClearing) {
    send("CR0");
    clock.advance(999);
    EXPECT_EQ(link.display().rx, "");
    EXPECT_TRUE(link.display().legendCr);
    clock.advance(1);
    EXPECT_EQ(link.display().rx, " X X X X ");
    EXPECT_FALSE(link.display().legendCr);
    EXPECT_FALSE(link.timer2().isEnabled());
    EXPECT_EQ(link.display().tx, " C R 0  [CR] ");
    clock.advance(199);
    EXPECT_EQ(link.display().rx, " X X X X ");
    clock.advance(1);
    EXPECT_EQ(link.display(), ProjectorLink::Display{});
    EXPECT_FALSE(link.timer4().isEnabled());
}

TEST_F(LinkTest, OneUnexpectedCharacterPreventsTheMark) {
    send("C00");
    clock.advance(900);
    serial.deliver("\x06");
    EXPECT_TRUE(link.display().legendAck);
    clock.advance(100);
    EXPECT_EQ(link.display().rx, "  [ACK] ");
    EXPECT_FALSE(link.display().legendAck);
}

TEST_F(LinkTest, CharactersAfterTheReplyWindowStartAFreshBuffer) {
    send("CR0");
    serial.deliver("0");
    clock.advance(1000);
    EXPECT_EQ(link.receiveBuffer(), "");
    serial.deliver(" 0\r");
    EXPECT_EQ(link.display().rx, " _ 0  [CR] ");
    EXPECT_TRUE(link.display().legendSpace);
    EXPECT_TRUE(link.display().legendCr);
}

TEST_F(LinkTest, ASendDuringAnExchangeStartsFullPeriods) {
    send("C00");
    clock.advance(800);
    send("C00");
    clock.advance(999);
    EXPECT_TRUE(link.timer2().isEnabled());
    clock.advance(1);
    EXPECT_EQ(link.display().rx, " X X X X ");
}

TEST_F(LinkTest, OnlyCharactersReceivedEventActs) {
    serial.pending = "00\r";
    link.MSComm1_OnComm(3);
    EXPECT_EQ(link.receiveBuffer(), "");
    link.MSComm1_OnComm(SerialPort::kCharactersReceived);
    EXPECT_EQ(link.receiveBuffer(), "00\r");
}

TEST_F(LinkTest, EveryByteValueReceivedAloneAndMixed) {
    std::string all;
    for (int code = 0; code < 256; ++code) {
        send("C00");
        const std::string one(1, static_cast<char>(code));
        serial.deliver(one);
        EXPECT_EQ(link.receiveBuffer(), one);
        all += one;
    }
    send("CR0");
    serial.deliverPieces(all, 7);
    EXPECT_EQ(link.receiveBuffer(), all);
    for (const char c : link.display().rx)
        EXPECT_TRUE(c >= 0x20 && c < 0x7f);
}

TEST_F(LinkTest, FloodKeepsTheBufferBounded) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pieceSize(1, 64);
    std::uniform_int_distribution<int> printable(0x21, 0x7a);
    std::size_t sent = 0;
    while (sent < 100000) {
        std::string piece(static_cast<std::size_t>(pieceSize(random)), 'x');
        for (char& c : piece)
            c = static_cast<char>(printable(random));
        serial.deliver(piece);
        sent += piece.size();
        ASSERT_LE(link.receiveBuffer().size(), ProjectorLink::kReceiveLimit);
        ASSERT_LE(link.display().rx.size(), 1 + 2 * ProjectorLink::kReceiveLimit);
    }
    // One arrival larger than the limit keeps its newest characters.
    serial.deliver(std::string(5000, 'a') + "END");
    EXPECT_EQ(link.receiveBuffer().size(), ProjectorLink::kReceiveLimit);
    EXPECT_EQ(link.receiveBuffer().substr(ProjectorLink::kReceiveLimit - 3), "END");
}

// The display is the echo of the whole buffer however it came: pieces of every byte value,
// restarts at the buffer's limit, the reply window's end and the display's clearing between.
TEST_F(LinkTest, ReceiveDisplayIsTheEchoOfTheWholeBuffer) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pieceSize(1, 40);
    std::uniform_int_distribution<int> byte(0, 255);
    send("CR0");
    for (int round = 0; round < 400; ++round) {
        std::string piece(static_cast<std::size_t>(pieceSize(random)), 'x');
        for (char& c : piece)
            c = static_cast<char>(byte(random));
        serial.deliver(piece);
        ASSERT_EQ(link.display().rx, renderEcho(link.receiveBuffer()).text);
        if (round % 50 == 49)
            clock.advance(700); // the reply window, then the clearing, ends on the way
    }
}

} // namespace
} // namespace trv
