#include "link/transport/TelnetCodec.h"

namespace trv {
namespace {

std::string command(std::uint8_t verb, std::uint8_t option) {
    return {char(TelnetCodec::IAC), char(verb), char(option)};
}

// One RFC 2217 subnegotiation with its value escaped.
std::string comPortCommand(std::uint8_t what, const std::string& value) {
    std::string out{char(TelnetCodec::IAC), char(TelnetCodec::SB), char(TelnetCodec::kComPort),
                    char(what)};
    out += TelnetCodec::encode(value);
    out += char(TelnetCodec::IAC);
    out += char(TelnetCodec::SE);
    return out;
}

// RFC 2217's codes for the settings.
std::uint8_t parityCode(LineSettings::Parity parity) {
    switch (parity) {
    case LineSettings::Parity::None:
        return 1;
    case LineSettings::Parity::Odd:
        return 2;
    case LineSettings::Parity::Even:
        return 3;
    case LineSettings::Parity::Mark:
        return 4;
    case LineSettings::Parity::Space:
        return 5;
    }
    return 1;
}

std::uint8_t stopCode(LineSettings::StopBits stopBits) {
    switch (stopBits) {
    case LineSettings::StopBits::One:
        return 1;
    case LineSettings::StopBits::Two:
        return 2;
    case LineSettings::StopBits::OneAndHalf:
        return 3;
    }
    return 1;
}

std::uint8_t flowCode(LineSettings::FlowControl flow) {
    switch (flow) {
    case LineSettings::FlowControl::None:
        return 1;
    case LineSettings::FlowControl::Software:
        return 2;
    case LineSettings::FlowControl::Hardware:
        return 3;
    }
    return 1;
}

} // namespace

bool TelnetCodec::weWant(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool TelnetCodec::theyMay(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

std::string TelnetCodec::start() {
    us_[kComPort] = us_[kBinary] = Q::WantYes;
    him_[kBinary] = him_[kSuppressGoAhead] = Q::WantYes;
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

std::string TelnetCodec::lineSettings(const LineSettings& settings) {
    const auto baud = std::uint32_t(settings.baudRate);
    const std::string speed{char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    return comPortCommand(1, speed)                                               // SET-BAUDRATE
           + comPortCommand(2, std::string(1, char(settings.dataBits)))           // SET-DATASIZE
           + comPortCommand(3, std::string(1, char(parityCode(settings.parity)))) // SET-PARITY
           + comPortCommand(4, std::string(1, char(stopCode(settings.stopBits)))) // SET-STOPSIZE
           + comPortCommand(5, std::string(1, char(flowCode(settings.flowControl)))); // SET-CONTROL
}

TelnetCodec::ComPort TelnetCodec::comPort() const {
    if (us_[kComPort] == Q::Yes)
        return ComPort::Agreed;
    return comPortRefused_ ? ComPort::Refused : ComPort::Asked;
}

void TelnetCodec::enableRequested(Q& side, bool& refusedOnce, bool accept, std::uint8_t yes,
                                  std::uint8_t no, std::uint8_t option, std::string& answer) {
    switch (side) {
    case Q::No:
        if (accept) {
            side = Q::Yes;
            answer += command(yes, option);
        } else if (!refusedOnce) {
            refusedOnce = true;
            answer += command(no, option);
        }
        break;
    case Q::WantYes: // our own request, agreed: no answer
        side = Q::Yes;
        break;
    case Q::WantNo: // a refusal answered by a request: RFC 1143 takes it as the refusal
        side = Q::No;
        break;
    case Q::Yes:
        break; // already so: not answered
    }
}

void TelnetCodec::disableRequested(Q& side, std::uint8_t no, std::uint8_t option,
                                   std::string& answer) {
    switch (side) {
    case Q::Yes:
        side = Q::No;
        answer += command(no, option);
        break;
    case Q::WantYes: // our own request, refused: no answer
    case Q::WantNo:
        side = Q::No;
        break;
    case Q::No:
        break;
    }
}

void TelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option, std::string& answer) {
    switch (verb) {
    case DO:
        enableRequested(us_[option], refusedUs_[option], weWant(option), WILL, WONT, option,
                        answer);
        break;
    case DONT:
        if (option == kComPort && us_[option] != Q::No)
            comPortRefused_ = true;
        disableRequested(us_[option], WONT, option, answer);
        break;
    case WILL:
        enableRequested(him_[option], refusedHim_[option], theyMay(option), DO, DONT, option,
                        answer);
        break;
    case WONT:
        disableRequested(him_[option], DONT, option, answer);
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
