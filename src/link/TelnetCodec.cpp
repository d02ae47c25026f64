#include "TelnetCodec.h"

namespace trv {
namespace {

std::string command(std::uint8_t verb, std::uint8_t option) {
    return {char(TelnetCodec::IAC), char(verb), char(option)};
}

// One RFC 2217 subnegotiation with its value escaped.
std::string comPort(std::uint8_t what, const std::string& value) {
    std::string out{char(TelnetCodec::IAC), char(TelnetCodec::SB), char(TelnetCodec::kComPort),
                    char(what)};
    out += TelnetCodec::encode(value);
    out += char(TelnetCodec::IAC);
    out += char(TelnetCodec::SE);
    return out;
}

} // namespace

bool TelnetCodec::weWant(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool TelnetCodec::theyMay(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

std::string TelnetCodec::start() {
    ours_[kComPort] = ours_[kBinary] = true;
    theirs_[kBinary] = theirs_[kSuppressGoAhead] = true;
    return command(WILL, kComPort) + command(WILL, kBinary) + command(DO, kBinary) +
           command(DO, kSuppressGoAhead);
}

std::string TelnetCodec::encode(const std::string& data) {
    std::string out;
    out.reserve(data.size());
    for (char c : data) {
        out += c;
        if (std::uint8_t(c) == IAC)
            out += c;
    }
    return out;
}

std::string TelnetCodec::lineSettings(std::uint32_t baud) {
    const std::string speed{char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    return comPort(1, speed)                      // SET-BAUDRATE
           + comPort(2, std::string(1, char(8)))  // SET-DATASIZE
           + comPort(3, std::string(1, char(1)))  // SET-PARITY none
           + comPort(4, std::string(1, char(1)))  // SET-STOPSIZE 1
           + comPort(5, std::string(1, char(1))); // SET-CONTROL no flow control
}

void TelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option, std::string& answer) {
    // Answer only a change of state, so that two sides never echo each other for ever.
    switch (verb) {
    case DO:
        if (weWant(option) && !ours_[option]) {
            ours_[option] = true;
            answer += command(WILL, option);
        } else if (!weWant(option)) {
            answer += command(WONT, option);
        }
        break;
    case DONT:
        if (ours_[option]) {
            ours_[option] = false;
            answer += command(WONT, option);
        }
        break;
    case WILL:
        if (theyMay(option) && !theirs_[option]) {
            theirs_[option] = true;
            answer += command(DO, option);
        } else if (!theyMay(option)) {
            answer += command(DONT, option);
        }
        break;
    case WONT:
        if (theirs_[option]) {
            theirs_[option] = false;
            answer += command(DONT, option);
        }
        break;
    default:
        break;
    }
}

std::string TelnetCodec::decode(const std::string& bytes, std::string& answer) {
    std::string data;
    data.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = std::uint8_t(c);
        switch (state_) {
        case State::Data:
            if (b == IAC)
                state_ = State::Command;
            else
                data += c;
            break;
        case State::Command:
            if (b == IAC) {
                data += c; // an escaped 0xFF
                state_ = State::Data;
            } else if (b == DO || b == DONT || b == WILL || b == WONT) {
                verb_ = b;
                state_ = State::Option;
            } else if (b == SB) {
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, go-ahead and the like carry nothing
            }
            break;
        case State::Option:
            negotiate(verb_, b, answer);
            state_ = State::Data;
            break;
        case State::Sub:
            // The server's reports (its line settings, modem state) are not needed; a
            // subnegotiation that never ends costs no memory and ends at the next IAC SE.
            if (b == IAC)
                state_ = State::SubCommand;
            break;
        case State::SubCommand:
            if (b == SE)
                state_ = State::Data;
            else
                state_ = State::Sub; // IAC IAC inside, or a stray IAC
            break;
        }
    }
    return data;
}

} // namespace trv
