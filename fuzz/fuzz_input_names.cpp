// Input names from the configuration: whatever the text, a list taken gives each of inputs 1 to
// 4 a name an INNM reply can carry whole (1 to 128 bytes, no byte that ends or breaks a line)
// and no other input one.
#include "FuzzCheck.h"
#include "bridge/pjlink/PjlinkInputNames.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

using trv::bridge::pjlink::PjlinkInputNames;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto names = PjlinkInputNames::parse(text, error);
    FUZZ_CHECK(bool(names) == error.empty());
    if (!names)
        return 0;
    for (int input = 1; input <= 4; ++input) {
        const std::string name = names->name(input);
        FUZZ_CHECK(!name.empty() && name.size() <= PjlinkInputNames::kMaxName);
        FUZZ_CHECK(std::all_of(name.begin(), name.end(), [](char c) {
            return printable(c) || static_cast<unsigned char>(c) >= 0x80;
        }));
    }
    FUZZ_CHECK(names->name(0).empty() && names->name(5).empty());
    return 0;
}
