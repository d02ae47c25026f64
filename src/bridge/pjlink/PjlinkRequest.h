#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace trv::bridge::pjlink {

// One PJLink request line as read from a client, or why it cannot be served, and the reply
// line that answers it.
struct PjlinkRequest {
    // A request is at most 136 bytes with its CR: "%1" (2), the command (4), a blank (1) and a
    // parameter of up to 128.
    static constexpr std::size_t kMaxRequest = 135;
    static constexpr std::size_t kMaxParameter = 128;
    static constexpr std::size_t kDigestLength = 32;
    // The longest line worth keeping: a digest and a request, and one byte more to tell that a
    // line was longer.
    static constexpr std::size_t kMaxLine = kDigestLength + kMaxRequest + 1;

    enum class Kind {
        Empty,      // nothing between two line ends (CR LF): no answer
        Unreadable, // no "%", class digit and four-letter command to answer to: no answer
        Refused,    // answered with `error` without asking the projector
        Request,    // a Class 1 or Class 2 request for the projector
    };

    // Cuts a byte stream into lines ended by CR or LF. A longer line than kMaxLine keeps its
    // first kMaxLine bytes and loses the rest up to its end, so memory stays bounded whatever
    // a client sends.
    class Splitter {
    public:
        // Takes bytes from the front of `bytes` up to and including the first line end and
        // returns how many it took; after a line end, `complete()` holds until `take()`.
        std::size_t feed(std::string_view bytes);
        bool complete() const { return complete_; }
        std::string take();

    private:
        std::string line_;
        bool complete_ = false;
    };

    Kind kind = Kind::Empty;
    char classDigit = '1';
    std::string command;   // four letters or digits, upper case
    std::string parameter; // as sent
    std::string digest;    // 32 hex digits in lower case, or empty when none came
    std::string error;     // for Refused: "ERR1" or "ERR2"

    // Reads one line without its line end.
    static PjlinkRequest parse(std::string_view line);
    // "%1POWR=OK\r": upper case; bytes that could end or break the line are left out (the
    // value keeps bytes from 0x80 up, for UTF-8 names).
    static std::string format(char classDigit, std::string_view command, std::string_view value);
    std::string reply(std::string_view value) const { return format(classDigit, command, value); }
};

} // namespace trv::bridge::pjlink
