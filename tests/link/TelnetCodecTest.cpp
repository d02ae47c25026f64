#include "link/TelnetCodec.h"

#include <gtest/gtest.h>

namespace trv {
namespace {

using T = TelnetCodec;
std::string cmd(std::uint8_t verb, std::uint8_t option) {
    return {char(T::IAC), char(verb), char(option)};
}

TEST(TelnetCodec, EscapesTheCommandByteBothWays) {
    EXPECT_EQ(T::encode("A\xff"
                        "B\r"),
              "A\xff\xff"
              "B\r");
    T codec;
    std::string answer;
    // An escaped 0xFF split at the end of one read and the start of the next.
    EXPECT_EQ(codec.decode("00\xff", answer), "00");
    EXPECT_EQ(codec.decode("\xff\r", answer), "\xff\r");
    EXPECT_EQ(answer, "");
}

TEST(TelnetCodec, AgreesToWhatTheLineUsesAndRefusesTheRest) {
    T codec;
    const std::string offer = codec.start();
    EXPECT_NE(offer.find(cmd(T::WILL, T::kComPort)), std::string::npos);
    std::string answer;
    // The server agrees to what was asked: nothing to answer.
    codec.decode(cmd(T::DO, T::kComPort) + cmd(T::WILL, T::kBinary), answer);
    EXPECT_EQ(answer, "");
    // Echo, terminal type, linemode: refused, either way round.
    codec.decode(cmd(T::WILL, 1) + cmd(T::DO, 24) + cmd(T::DO, 34), answer);
    EXPECT_EQ(answer, cmd(T::DONT, 1) + cmd(T::WONT, 24) + cmd(T::WONT, 34));
    // A withdrawn option is acknowledged once; repeating it changes nothing.
    answer.clear();
    codec.decode(cmd(T::DONT, T::kBinary) + cmd(T::DONT, T::kBinary), answer);
    EXPECT_EQ(answer, cmd(T::WONT, T::kBinary));
}

TEST(TelnetCodec, SubnegotiationsAreSkippedWhateverTheirLength) {
    T codec;
    std::string answer;
    const std::string report = std::string{char(T::IAC), char(T::SB), char(T::kComPort), 101} +
                               std::string("\x00\x00\x25\x80\xff\xff", 6) +
                               std::string{char(T::IAC), char(T::SE)};
    EXPECT_EQ(codec.decode("A" + report + "B", answer), "AB");
    // One that never ends swallows the bytes but keeps nothing of them.
    codec.decode(std::string{char(T::IAC), char(T::SB), char(T::kComPort)}, answer);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(codec.decode(std::string(4096, 'x'), answer), "");
    EXPECT_EQ(codec.decode(std::string{char(T::IAC), char(T::SE)} + "ok", answer), "ok");
}

TEST(TelnetCodec, LineSettingsCarryTheSpeedBigEndian) {
    const std::string settings = T::lineSettings(19200);
    const std::string speed = std::string{char(T::IAC), char(T::SB), char(T::kComPort), 1} +
                              std::string("\x00\x00\x4b\x00", 4) +
                              std::string{char(T::IAC), char(T::SE)};
    EXPECT_EQ(settings.substr(0, speed.size()), speed);
}

} // namespace
} // namespace trv
