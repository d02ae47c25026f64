#include "bridge/pjlink/PjlinkRequest.h"

#include <algorithm>

namespace trv::bridge::pjlink {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isPrintable(char c) { return c >= 0x20 && c <= 0x7e; }
// Printable ASCII or a byte of a UTF-8 sequence (names are UTF-8): nothing that ends or breaks
// a line.
bool isText(char c) { return isPrintable(c) || static_cast<unsigned char>(c) >= 0x80; }
char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

PjlinkRequest refused(PjlinkRequest request, const char* error) {
    request.kind = PjlinkRequest::Kind::Refused;
    request.error = error;
    return request;
}

} // namespace

std::size_t PjlinkRequest::Splitter::feed(std::string_view bytes) {
    if (complete_)
        return 0;
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (c == '\r' || c == '\n') {
            complete_ = true;
            return at + 1;
        }
        if (line_.size() < kMaxLine)
            line_.push_back(c);
    }
    return bytes.size();
}

std::string PjlinkRequest::Splitter::take() {
    std::string line;
    line.swap(line_);
    complete_ = false;
    return line;
}

PjlinkRequest PjlinkRequest::parse(std::string_view line) {
    PjlinkRequest request;
    if (line.empty())
        return request;
    request.kind = Kind::Unreadable;

    // Anything before the "%" must be the digest of authentication.
    const std::size_t header = line.find('%');
    const std::string_view prefix = line.substr(0, header);
    if (!prefix.empty()) {
        if (prefix.size() != kDigestLength || !std::all_of(prefix.begin(), prefix.end(), isHex))
            return request;
        request.digest.resize(kDigestLength);
        std::transform(prefix.begin(), prefix.end(), request.digest.begin(), lower);
    }
    if (header == std::string_view::npos)
        return request;

    const std::string_view text = line.substr(header);
    if (text.size() < 6 || !isDigit(text[1]) ||
        !std::all_of(text.begin() + 2, text.begin() + 6,
                     [](char c) { return isDigit(c) || isLetter(c); }))
        return request;
    request.classDigit = text[1];
    request.command.resize(4);
    std::transform(text.begin() + 2, text.begin() + 6, request.command.begin(), upper);

    // Classes 1 and 2 are served; any other is an undefined command whatever follows.
    if (request.classDigit != '1' && request.classDigit != '2')
        return refused(std::move(request), "ERR1");
    // Too long is a parameter out of range: the command itself may well be one we serve.
    if (text.size() > kMaxRequest || text.size() == 6)
        return refused(std::move(request), "ERR2");
    // "%1POWRX 1": the command as sent has more than four letters.
    if (text[6] != ' ')
        return refused(std::move(request), "ERR1");
    const std::string_view parameter = text.substr(7);
    if (parameter.empty() || !std::all_of(parameter.begin(), parameter.end(), isPrintable))
        return refused(std::move(request), "ERR2");
    request.parameter = parameter;
    request.kind = Kind::Request;
    return request;
}

std::string PjlinkRequest::format(char classDigit, std::string_view command,
                                  std::string_view value) {
    std::string line;
    line.reserve(3 + command.size() + value.size() + 1);
    line.push_back('%');
    if (isPrintable(classDigit))
        line.push_back(classDigit);
    for (const char c : command)
        if (isPrintable(c))
            line.push_back(upper(c));
    line.push_back('=');
    for (const char c : value)
        if (isText(c))
            line.push_back(c);
    line.push_back('\r');
    return line;
}

} // namespace trv::bridge::pjlink
