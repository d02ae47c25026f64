#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace trv {

// The client side of Telnet as far as a serial device server needs it: data passes with 0xFF
// escaped, the options the line uses (binary, suppress go-ahead, the COM port control of
// RFC 2217) are agreed, every other option is refused, and the server's subnegotiations are
// skipped without being kept. Keeps its state between reads, so a command may end anywhere.
class TelnetCodec {
public:
    static constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                                  SE = 240;
    static constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;

    // What the client asks for right after connecting; the server's agreement needs no answer.
    std::string start();
    // Data for the line, with 0xFF doubled.
    static std::string encode(const std::string& data);
    // RFC 2217 settings for the server's line: the speed, 8 data bits, no parity, 1 stop bit,
    // no flow control.
    static std::string lineSettings(std::uint32_t baud);

    // Takes bytes from the server: returns the data among them and appends to `answer` what
    // must go back to the server.
    std::string decode(const std::string& bytes, std::string& answer);

private:
    enum class State { Data, Command, Option, Sub, SubCommand };
    static bool weWant(std::uint8_t option);  // options the client does itself
    static bool theyMay(std::uint8_t option); // options the client lets the server do
    void negotiate(std::uint8_t verb, std::uint8_t option, std::string& answer);

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    // Agreed options: what the client does, and what it lets the server do.
    std::array<bool, 256> ours_{};
    std::array<bool, 256> theirs_{};
};

} // namespace trv
