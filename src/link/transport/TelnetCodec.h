#pragma once

#include "link/transport/LineSettings.h"

#include <array>
#include <cstdint>
#include <string>

namespace trv {

// The client side of Telnet as far as a serial device server needs it: data passes with 0xFF
// escaped; the options the line uses (binary both ways, suppress go-ahead, the COM port control
// of RFC 2217) are asked for and every other option is refused once; the server's
// subnegotiations are skipped without being kept. Options are negotiated by RFC 1143's rules:
// only changes of state are answered, so a flood of repeated requests costs no answers. Keeps
// its state between reads, so a command may end anywhere.
class TelnetCodec {
public:
    static constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                                  SE = 240;
    static constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;

    // Where the client's offer of COM port control stands.
    enum class ComPort { Asked, Agreed, Refused };

    // What the client asks for right after connecting.
    std::string start();
    // Bytes with 0xFF doubled, as subnegotiation values carry them.
    static std::string encode(const std::string& data);
    // Data for the line: 0xFF doubled and, unless the client sends in binary, a carriage return
    // followed by NUL as RFC 854 wants it in the network virtual terminal.
    std::string encodeData(const std::string& data) const;
    // RFC 2217 commands that set the server's line to these settings.
    static std::string lineSettings(const LineSettings& settings);

    // Takes bytes from the server: returns the data among them and appends to `answer` what
    // must go back to the server.
    std::string decode(const std::string& bytes, std::string& answer);

    ComPort comPort() const;

private:
    // RFC 1143's states of one side of one option; the client never changes its mind, so the
    // queue bit is not needed.
    enum class Q : std::uint8_t { No, Yes, WantNo, WantYes };
    enum class State { Data, Command, Option, Sub, SubCommand };
    static bool weWant(std::uint8_t option);  // options the client does itself
    static bool theyMay(std::uint8_t option); // options the client lets the server do
    void negotiate(std::uint8_t verb, std::uint8_t option, std::string& answer);
    // Takes a request to enable an option on `side`; `refusedOnce` keeps repeated requests for
    // an option already refused from being answered again.
    static void enableRequested(Q& side, bool& refusedOnce, bool accept, std::uint8_t yes,
                                std::uint8_t no, std::uint8_t option, std::string& answer);
    static void disableRequested(Q& side, std::uint8_t no, std::uint8_t option,
                                 std::string& answer);

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    std::array<Q, 256> us_{};  // options the client does
    std::array<Q, 256> him_{}; // options the server does
    std::array<bool, 256> refusedUs_{};
    std::array<bool, 256> refusedHim_{};
    bool comPortRefused_ = false;
    bool afterCr_ = false; // the last data byte decoded was a carriage return
};

} // namespace trv
