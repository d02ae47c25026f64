#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trv::http {

// A request's line and header fields as the client sent them.
struct RequestHead {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> fields; // values without surrounding blanks
    std::size_t size = 0; // bytes up to and with the blank line, leading blank lines included

    // The values of the fields called `name` (any case), in the order sent.
    std::vector<std::string_view> values(std::string_view name) const;
};

// Reads a request head from the bytes at hand, strictly: every line ends in CR LF, so that
// where this reader sees the head end is where any other reader sees it.
class HeadReader {
public:
    enum class Status { Incomplete, Complete, TooLarge, Malformed };
    // `limit`: the most bytes the head may take, its blank line included.
    static Status read(std::string_view bytes, std::size_t limit, RequestHead& head);
};

} // namespace trv::http
