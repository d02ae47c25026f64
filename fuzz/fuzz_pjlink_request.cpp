// PJLink requests from a client: whatever bytes come, in whatever pieces, every line stays
// bounded, a request read is of class 1 or 2 with a four-letter command and a parameter within
// its limit, and the reply is one line of its class ended by CR alone.
#include "FuzzCheck.h"
#include "bridge/pjlink/PjlinkRequest.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

using trv::bridge::pjlink::PjlinkRequest;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first byte picks where the reads are cut.
    const std::size_t piece = size > 0 ? 1 + data[0] % 23 : 1;
    PjlinkRequest::Splitter splitter;
    std::size_t lines = 0;
    for (std::size_t at = 0; at < size; at += piece) {
        std::string_view rest = bytes.substr(at, piece);
        while (!rest.empty()) {
            const std::size_t taken = splitter.feed(rest);
            FUZZ_CHECK(taken > 0 && taken <= rest.size());
            rest.remove_prefix(taken);
            if (!splitter.complete())
                continue;
            ++lines;
            const std::string line = splitter.take();
            FUZZ_CHECK(line.size() <= PjlinkRequest::kMaxLine);
            FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);

            const PjlinkRequest request = PjlinkRequest::parse(line);
            FUZZ_CHECK((request.kind == PjlinkRequest::Kind::Empty) == line.empty());
            if (request.kind == PjlinkRequest::Kind::Request) {
                FUZZ_CHECK(request.classDigit == '1' || request.classDigit == '2');
                FUZZ_CHECK(request.parameter.size() >= 1 &&
                           request.parameter.size() <= PjlinkRequest::kMaxParameter);
                for (const char c : request.parameter)
                    FUZZ_CHECK(printable(c));
            }
            if (request.kind == PjlinkRequest::Kind::Request ||
                request.kind == PjlinkRequest::Kind::Refused) {
                FUZZ_CHECK(request.command.size() == 4);
                for (const char c : request.command)
                    FUZZ_CHECK((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
            }
            FUZZ_CHECK(request.digest.empty() ||
                       request.digest.size() == PjlinkRequest::kDigestLength);

            // The value as a projector might give it: the rest of the line, bytes and all.
            const std::string reply = request.reply(line);
            FUZZ_CHECK(reply.size() >= 3 && reply.front() == '%' && reply.back() == '\r');
            FUZZ_CHECK(reply.find('\r') == reply.size() - 1);
            FUZZ_CHECK(std::all_of(reply.begin(), reply.end() - 1, [](char c) {
                return printable(c) || static_cast<unsigned char>(c) >= 0x80;
            }));
            if (request.kind == PjlinkRequest::Kind::Request)
                FUZZ_CHECK(
                    reply.compare(0, 6,
                                  "%" + std::string(1, request.classDigit) + request.command) == 0);
        }
    }
    const std::size_t ends =
        std::count(bytes.begin(), bytes.end(), '\r') + std::count(bytes.begin(), bytes.end(), '\n');
    FUZZ_CHECK(lines == ends);
    return 0;
}
