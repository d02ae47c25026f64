#pragma once

#include <cstdint>
#include <string>

namespace trv {
class SettingsStore;
}

// What the stored start-up texts select, by the rules of the main window's load; shared by
// the panel and the command line so both start from the same port, speed and unit address.
namespace trv::StartupSettings {

// COM 1 to 15, or 0 when the stored text gives none.
std::int16_t portNo(SettingsStore& store);
// 96 (9600 baud) when the stored text reads 96, else 192 (19200 baud).
std::uint8_t baudCode(SettingsStore& store);
// One of "AFFF", "A001" to "A004", or empty (a single unit) for anything else.
std::string unitAddress(SettingsStore& store);

} // namespace trv::StartupSettings
