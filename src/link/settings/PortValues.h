#pragma once

#include "link/transport/LineSettings.h"
#include "link/transport/PortMap.h"

#include <QString>
#include <cstdint>

namespace trv {

// Port number and line speed in use or chosen, with the copies the settings dialog's Cancel
// restores. One instance lives for the whole run.
struct PortValues {
    std::int16_t PortNo = 0;
    std::uint8_t BaudCode = 0; // 96 means 9600 baud, 192 means 19200 baud
    std::int16_t SavedPortNo = 0;
    std::uint8_t SavedBaudCode = 0;
};

// The line settings that a baud code selects: 9600 or 19200 baud, no parity, 8 data bits, 1 stop
// bit ("9600,N,8,1" or "19200,N,8,1").
inline LineSettings lineSettingsFor(std::uint8_t baudCode) {
    LineSettings settings;
    settings.baudRate = baudCode == 96 ? 9600 : 19200;
    return settings;
}

// Why `text` cannot name a port: a COM number outside 1 to 15; empty when it can (any other
// text is a device or an address, checked when it opens). Every program that takes a port
// refuses such a number with this reason.
inline QString comPortProblem(const QString& text) {
    const std::optional<int> n = comPortNumber(text);
    return n && (*n < 1 || *n > 15) ? QStringLiteral("the ports are COM1 to COM15") : QString();
}

// Settings store keys and the texts read when a key is absent.
namespace StoreKey {
inline const QString ComPort = QStringLiteral("ComPort");
inline const QString BaudRate = QStringLiteral("BaudRate");
inline const QString Adress = QStringLiteral("ADRESS");
inline const QString ComPortDefault = QStringLiteral("DATAC");
inline const QString BaudRateDefault = QStringLiteral("DATAb");
inline const QString AdressDefault = QStringLiteral("DATAD");
} // namespace StoreKey

} // namespace trv
