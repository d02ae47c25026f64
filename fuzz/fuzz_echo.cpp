// The echo rule: any bytes give a printable line of bounded length that starts with a blank.
#include "FuzzCheck.h"
#include "link/EchoRule.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const trv::Echo echo = trv::renderEcho(text);
    FUZZ_CHECK(!echo.text.empty() && echo.text.front() == ' ');
    FUZZ_CHECK(echo.text.size() >= 1 + 2 * size && echo.text.size() <= 1 + 7 * size);
    for (const char c : echo.text)
        FUZZ_CHECK(printable(c));
    FUZZ_CHECK(echo.cr == (text.find('\r') != std::string_view::npos));
    FUZZ_CHECK(echo.ack == (text.find('\x06') != std::string_view::npos));
    FUZZ_CHECK(echo.space == (text.find(' ') != std::string_view::npos));
    return 0;
}
