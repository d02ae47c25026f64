#include "bridge/http/HeadReader.h"

#include <algorithm>
#include <cctype>

namespace trv::http {
namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool tokenChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool token(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), tokenChar); }

// Visible characters, blanks and bytes of UTF-8; no control character.
bool fieldText(std::string_view s) {
    return std::none_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7f;
    });
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool requestLine(std::string_view line, RequestHead& head) {
    const auto first = line.find(' ');
    const auto second = first == line.npos ? line.npos : line.find(' ', first + 1);
    if (second == line.npos || line.find(' ', second + 1) != line.npos)
        return false;
    head.method = line.substr(0, first);
    head.target = line.substr(first + 1, second - first - 1);
    head.version = line.substr(second + 1);
    const bool methodOk =
        !head.method.empty() && std::all_of(head.method.begin(), head.method.end(),
                                            [](char c) { return c >= 'A' && c <= 'Z'; });
    const bool targetOk = (head.target.starts_with('/') || head.target == "*") &&
                          std::all_of(head.target.begin(), head.target.end(), [](char c) {
                              const auto u = static_cast<unsigned char>(c);
                              return u > 0x20 && u < 0x7f;
                          });
    return methodOk && targetOk && (head.version == "HTTP/1.1" || head.version == "HTTP/1.0");
}

} // namespace

std::vector<std::string_view> RequestHead::values(std::string_view name) const {
    std::vector<std::string_view> found;
    for (const auto& [field, value] : fields) {
        if (sameName(field, name))
            found.push_back(value);
    }
    return found;
}

HeadReader::Status HeadReader::read(std::string_view bytes, std::size_t limit, RequestHead& head) {
    head = {};
    std::size_t at = 0;
    // Blank lines before a request are allowed (after a body, some clients send one).
    while (bytes.substr(at, 2) == "\r\n")
        at += 2;
    const auto end = bytes.find("\r\n\r\n", at);
    if (end == bytes.npos) {
        if (bytes.size() >= limit)
            return Status::TooLarge;
        // A bare line feed ends a head elsewhere: refuse it at once rather than wait for more.
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
                return Status::Malformed;
        }
        return Status::Incomplete;
    }
    head.size = end + 4;
    if (head.size > limit)
        return Status::TooLarge;
    std::string_view rest = bytes.substr(at, end + 2 - at);
    bool first = true;
    while (!rest.empty()) {
        const auto eol = rest.find("\r\n");
        const std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol + 2);
        if (line.find_first_of("\r\n") != line.npos)
            return Status::Malformed;
        if (first) {
            first = false;
            if (!requestLine(line, head))
                return Status::Malformed;
            continue;
        }
        const auto colon = line.find(':');
        if (colon == line.npos || !token(line.substr(0, colon)))
            return Status::Malformed; // folded lines too: they start with a blank
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (!fieldText(value))
            return Status::Malformed;
        head.fields.emplace_back(line.substr(0, colon), value);
    }
    return Status::Complete;
}

} // namespace trv::http
