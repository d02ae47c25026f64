#include "bridge/pjlink/PjlinkInputNames.h"

#include <algorithm>

namespace trv::bridge::pjlink {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF) without control
// characters.
bool isUtf8Text(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
        const unsigned char lead = byte(at);
        if (lead < 0x80) {
            if (lead < 0x20 || lead == 0x7f)
                return false;
            ++at;
            continue;
        }
        const std::size_t length = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
        if (length == 0 || lead > 0xf4 || at + length > text.size())
            return false;
        char32_t value = lead & (0x7f >> length);
        for (std::size_t i = 1; i < length; ++i) {
            if ((byte(at + i) & 0xc0) != 0x80)
                return false;
            value = (value << 6) | (byte(at + i) & 0x3f);
        }
        constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kLeast[length] || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff) ||
            (value >= 0x80 && value < 0xa0))
            return false;
        at += length;
    }
    return true;
}

} // namespace

PjlinkInputNames::PjlinkInputNames() {
    for (std::size_t i = 0; i < names_.size(); ++i)
        names_[i] = "INPUT " + std::to_string(i + 1);
}

std::optional<PjlinkInputNames> PjlinkInputNames::parse(std::string_view text, std::string& error) {
    PjlinkInputNames names;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view pair = trimmed(text.substr(at, comma - at));
        at = comma + 1;
        if (pair.empty())
            continue;
        const std::size_t equals = pair.find('=');
        const std::string_view input = trimmed(pair.substr(0, std::min(equals, pair.size())));
        if (equals == std::string_view::npos || input.size() != 1 || input[0] < '1' ||
            input[0] > '4') {
            error = "\"" + std::string(pair) +
                    "\" is not INPUT=NAME with an input 1 to 4 (5 cannot be selected)";
            return std::nullopt;
        }
        const std::string_view name = trimmed(pair.substr(equals + 1));
        if (name.empty() || name.size() > kMaxName || !isUtf8Text(name)) {
            error = "the name of input " + std::string(input) + " must be 1 to " +
                    std::to_string(kMaxName) + " bytes of text (UTF-8, no control characters)";
            return std::nullopt;
        }
        names.names_[std::size_t(input[0] - '1')] = name;
    }
    return names;
}

std::string PjlinkInputNames::name(int input) const {
    return input >= 1 && input <= 4 ? names_[std::size_t(input - 1)] : std::string();
}

} // namespace trv::bridge::pjlink
