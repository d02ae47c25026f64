#include "link/transport/TelnetCodec.h"

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

// Outside binary mode a bare carriage return travels as CR NUL, both ways.
TEST(TelnetCodec, CarriageReturnTakesANulUnlessBinaryWasAgreed) {
    for (const bool binary : {true, false}) {
        T codec;
        codec.start();
        std::string answer;
        codec.decode(binary ? cmd(T::DO, T::kBinary) + cmd(T::WILL, T::kBinary)
                            : cmd(T::DONT, T::kBinary) + cmd(T::WONT, T::kBinary),
                     answer);
        EXPECT_EQ(codec.encodeData("C00\r"),
                  binary ? std::string("C00\r") : std::string("C00\r\0", 5));
        EXPECT_EQ(codec.encodeData("a\r\nb"), "a\r\nb");
        // The NUL may come in the next read.
        std::string data = codec.decode("00\r", answer);
        data += codec.decode(std::string("\0", 1) + "1", answer);
        EXPECT_EQ(data, binary ? std::string("00\r\0"
                                             "1",
                                             5)
                               : std::string("00\r1"))
            << binary;
    }
}

std::string repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

struct NegotiationRow {
    const char* name;
    std::string fromServer; // after the client's start()
    std::string answer;
    T::ComPort comPort;
};

// Only changes of state are answered: the client's own requests agreed or refused need no
// answer, a refused option is refused once however often it is asked for.
TEST(TelnetCodec, NegotiationAnswersOnlyChangesOfState) {
    const NegotiationRow rows[] = {
        {"agreement", cmd(T::DO, T::kComPort) + cmd(T::WILL, T::kBinary), "", T::ComPort::Agreed},
        {"refusal of COM port control", cmd(T::DONT, T::kComPort), "", T::ComPort::Refused},
        {"no answer yet", cmd(T::DO, T::kBinary), "", T::ComPort::Asked},
        {"other options refused either way", cmd(T::WILL, 1) + cmd(T::DO, 24),
         cmd(T::DONT, 1) + cmd(T::WONT, 24), T::ComPort::Asked},
        {"a flood of one request", repeat(cmd(T::DO, 1) + cmd(T::WILL, 1), 1000),
         cmd(T::WONT, 1) + cmd(T::DONT, 1), T::ComPort::Asked},
        {"agreed twice", repeat(cmd(T::DO, T::kComPort), 100), "", T::ComPort::Agreed},
        {"withdrawn after agreement", cmd(T::DO, T::kBinary) + repeat(cmd(T::DONT, T::kBinary), 5),
         cmd(T::WONT, T::kBinary), T::ComPort::Asked},
        {"withdrawn COM port control", cmd(T::DO, T::kComPort) + cmd(T::DONT, T::kComPort),
         cmd(T::WONT, T::kComPort), T::ComPort::Refused},
        {"server offers to do an option asked for later", cmd(T::WILL, T::kSuppressGoAhead), "",
         T::ComPort::Asked},
    };
    for (const NegotiationRow& row : rows) {
        T codec;
        const std::string offer = codec.start();
        EXPECT_EQ(offer, cmd(T::WILL, T::kComPort) + cmd(T::WILL, T::kBinary) +
                             cmd(T::DO, T::kBinary) + cmd(T::DO, T::kSuppressGoAhead));
        std::string answer;
        EXPECT_EQ(codec.decode(row.fromServer, answer), "") << row.name;
        EXPECT_EQ(answer, row.answer) << row.name;
        EXPECT_EQ(codec.comPort(), row.comPort) << row.name;
    }
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

std::string comPort(std::uint8_t what, const std::string& value) {
    return std::string{char(T::IAC), char(T::SB), char(T::kComPort), char(what)} + value +
           std::string{char(T::IAC), char(T::SE)};
}

// RFC 2217's codes for each of the five settings.
TEST(TelnetCodec, LineSettingsCarryEveryFieldInRfc2217Codes) {
    using L = LineSettings;
    const struct {
        L settings;
        std::string speed; // big-endian, 0xFF doubled
        char size, parity, stop, control;
    } rows[] = {
        {{}, std::string("\x00\x00\x25\x80", 4), 8, 1, 1, 1},
        {{19200, 7, L::Parity::Odd, L::StopBits::Two, L::FlowControl::Software},
         std::string("\x00\x00\x4b\x00", 4),
         7,
         2,
         2,
         2},
        {{115200, 5, L::Parity::Even, L::StopBits::OneAndHalf, L::FlowControl::Hardware},
         std::string("\x00\x01\xc2\x00", 4),
         5,
         3,
         3,
         3},
        {{255, 6, L::Parity::Mark, L::StopBits::One, L::FlowControl::None},
         std::string("\x00\x00\x00\xff\xff", 5),
         6,
         4,
         1,
         1},
        {{9600, 8, L::Parity::Space, L::StopBits::One, L::FlowControl::None},
         std::string("\x00\x00\x25\x80", 4),
         8,
         5,
         1,
         1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(T::lineSettings(row.settings),
                  comPort(1, row.speed) + comPort(2, {row.size}) + comPort(3, {row.parity}) +
                      comPort(4, {row.stop}) + comPort(5, {row.control}))
            << row.settings.baudRate;
    }
}

} // namespace
} // namespace trv
