// Reading a stored number: always a whole number, never beyond the huge marker, and the port
// and baud choices stay in range.
#include "FuzzCheck.h"
#include "link/settings/NumberRule.h"

#include <cmath>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = trv::NumberRule::readLeading(text);
    FUZZ_CHECK(std::isfinite(value));
    FUZZ_CHECK(std::floor(value) == value);
    FUZZ_CHECK(std::fabs(value) <= 1e300);
    if (trv::NumberRule::inRange(value, 1, 15)) {
        const auto port = static_cast<std::int16_t>(value);
        FUZZ_CHECK(port >= 1 && port <= 15);
    }
    // A text that does not start with a blank, sign, point or digit reads as 0.
    if (size > 0 && text[0] != ' ' && text[0] != '+' && text[0] != '-' && text[0] != '.' &&
        !(text[0] >= '0' && text[0] <= '9'))
        FUZZ_CHECK(value == 0);
    return 0;
}
