#pragma once

#include <span>
#include <string_view>

// The built-in command catalogue: three ordered lists of entries, each a command, "[CR]" and,
// on the first entry of a group, a separator and a description.
namespace trv::Catalogue {

std::span<const std::string_view> basic();      // 43 short commands
std::span<const std::string_view> expand();     // 589 set commands
std::span<const std::string_view> expandRead(); // 154 read commands

// The characters before the first "[", or the whole text when it holds none.
std::string_view commandPart(std::string_view text);

} // namespace trv::Catalogue
