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

// RFC 2217's codes for the settings, in the order of the settings' enumerations.
constexpr std::uint8_t kParityCodes[] = {1, 2, 3, 4, 5}; // none, odd, even, mark, space
constexpr std::uint8_t kStopCodes[] = {1, 3, 2};         // 1, 1.5, 2
constexpr std::uint8_t kFlowCodes[] = {1, 2, 3};         // none, XON/XOFF, hardware

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

std::string TelnetCodec::encodeData(const std::string& data) const {
    std::string out = encode(data);
    if (us_[kBinary] == Q::Yes)
        return out;
    std::string text;
    text.reserve(out.size() + 1);
    for (std::size_t i = 0; i < out.size(); ++i) {
        text += out[i];
        if (out[i] == '\r' && (i + 1 == out.size() || out[i + 1] != '\n'))
            text += '\0';
    }
    return text;
}

std::string TelnetCodec::lineSettings(const LineSettings& settings) {
    const auto baud = std::uint32_t(settings.baudRate);
    const std::string speed{char(baud >> 24), char(baud >> 16), char(baud >> 8), char(baud)};
    // SET-BAUDRATE, SET-DATASIZE, SET-PARITY, SET-STOPSIZE, SET-CONTROL
    return comPortCommand(1, speed) + comPortCommand(2, std::string(1, char(settings.dataBits))) +
           comPortCommand(3, std::string(1, char(kParityCodes[int(settings.parity)]))) +
           comPortCommand(4, std::string(1, char(kStopCodes[int(settings.stopBits)]))) +
           comPortCommand(5, std::string(1, char(kFlowCodes[int(settings.flowControl)])));
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
            if (b == IAC) {
                state_ = State::Command;
            } else if (b == 0 && afterCr_ && him_[kBinary] != Q::Yes) {
                afterCr_ = false; // the NUL that follows a bare carriage return carries nothing
            } else {
                data += c;
                afterCr_ = b == '\r';
            }
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
