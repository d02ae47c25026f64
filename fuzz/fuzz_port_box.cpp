// The port number box: a text that reads as one number reads the same as its leading number,
// and only 1..15 is ever taken as a port.
#include "FuzzCheck.h"
#include "link/settings/NumberRule.h"

#include <cmath>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto whole = trv::NumberRule::readWhole(text);
    if (!whole)
        return 0;
    FUZZ_CHECK(std::isfinite(*whole) && std::floor(*whole) == *whole);
    FUZZ_CHECK(*whole == trv::NumberRule::readLeading(text));
    if (trv::NumberRule::inRange(*whole, 1, 15)) {
        const auto port = static_cast<std::int16_t>(*whole);
        FUZZ_CHECK(port >= 1 && port <= 15);
    }
    return 0;
}
