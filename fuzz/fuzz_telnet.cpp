// The Telnet decoding of a device server's bytes: whatever the server sends, in whatever
// pieces, the data out is never more than the bytes in, the answers stay in proportion, and
// data sent through the encoding comes back whole.
#include "FuzzCheck.h"
#include "link/transport/TelnetCodec.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    trv::TelnetCodec codec;
    codec.start();
    std::string answer, decoded;
    // The first byte picks where the reads are cut.
    const std::size_t piece = size > 0 ? 1 + data[0] % 17 : 1;
    for (std::size_t at = 0; at < size; at += piece)
        decoded += codec.decode(bytes.substr(at, piece), answer);
    FUZZ_CHECK(decoded.size() <= size);
    FUZZ_CHECK(answer.size() <= size); // at most three bytes for each three-byte request

    // Data sent through the encoding comes back whole, in binary mode and out of it.
    for (const bool binary : {true, false}) {
        trv::TelnetCodec clean;
        clean.start();
        std::string none;
        using T = trv::TelnetCodec;
        const std::uint8_t agree = binary ? T::DO : T::DONT, offer = binary ? T::WILL : T::WONT;
        clean.decode(std::string{char(T::IAC), char(agree), char(T::kBinary), char(T::IAC),
                                 char(offer), char(T::kBinary)},
                     none);
        FUZZ_CHECK(clean.decode(clean.encodeData(bytes), none) == bytes);
        FUZZ_CHECK(none.empty());
    }
    return 0;
}
