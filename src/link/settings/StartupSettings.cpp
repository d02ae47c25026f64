#include "link/settings/StartupSettings.h"

#include "link/settings/NumberRule.h"
#include "link/settings/PortValues.h"
#include "link/settings/SettingsStore.h"

#include <array>

namespace trv::StartupSettings {

std::int16_t portNo(SettingsStore& store) {
    const double port = NumberRule::readLeading(
        store.read(StoreKey::ComPort, StoreKey::ComPortDefault).toStdString());
    return NumberRule::inRange(port, 1, 15) ? static_cast<std::int16_t>(port) : 0;
}

std::uint8_t baudCode(SettingsStore& store) {
    const double baud = NumberRule::readLeading(
        store.read(StoreKey::BaudRate, StoreKey::BaudRateDefault).toStdString());
    return baud == 96 ? 96 : 192;
}

std::string unitAddress(SettingsStore& store) {
    static constexpr std::array<const char*, 5> kAddresses{"AFFF", "A001", "A002", "A003", "A004"};
    const std::string stored = store.read(StoreKey::Adress, StoreKey::AdressDefault).toStdString();
    for (const char* address : kAddresses) {
        if (stored == address)
            return stored;
    }
    return {};
}

} // namespace trv::StartupSettings
