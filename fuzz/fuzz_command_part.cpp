// The console's command part: a prefix of the text up to its first "[", holding no "[".
#include "FuzzCheck.h"
#include "link/Catalogue.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string_view part = trv::Catalogue::commandPart(text);
    FUZZ_CHECK(text.substr(0, part.size()) == part);
    FUZZ_CHECK(part.find('[') == std::string_view::npos);
    const std::size_t bracket = text.find('[');
    FUZZ_CHECK(part.size() == (bracket == std::string_view::npos ? text.size() : bracket));
    return 0;
}
