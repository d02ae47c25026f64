#include "link/transport/WinPortList.h"

#include "link/transport/PortMap.h"

#include <QHash>
#include <algorithm>
#include <qt_windows.h>
#include <setupapi.h>

namespace trv {
namespace {

// The "Ports (COM & LPT)" device class; defined here so no GUID library is needed.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A string value of an open key, or empty.
QString stringValue(HKEY key, const wchar_t* name) {
    wchar_t text[256] = {};
    DWORD size = sizeof text - sizeof(wchar_t); // room for the terminator the value may lack
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return QString::fromWCharArray(text, int(size / sizeof(wchar_t))).section(QChar(0), 0, 0);
}

// The port names in the registry's map of serial devices.
QList<QString> mappedPorts() {
    QList<QString> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t value[256];
        DWORD valueSize = 256;
        wchar_t data[256] = {};
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, value, &valueSize, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const QString name = QString::fromWCharArray(data, int(dataSize / sizeof(wchar_t)))
                                 .section(QChar(0), 0, 0)
                                 .trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    RegCloseKey(key);
    return names;
}

// The friendly names of the present port devices, by the port name each has.
QHash<QString, QString> friendlyNames() {
    QHash<QString, QString> names;
    const HDEVINFO devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return names;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const HKEY key =
            SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const QString port = stringValue(key, L"PortName");
        RegCloseKey(key);
        wchar_t friendly[256] = {};
        DWORD type = 0;
        if (port.isEmpty() ||
            !SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, &type,
                                               reinterpret_cast<BYTE*>(friendly),
                                               sizeof friendly - sizeof(wchar_t), nullptr))
            continue;
        names.insert(port.toUpper(), QString::fromWCharArray(friendly));
    }
    SetupDiDestroyDeviceInfoList(devices);
    return names;
}

} // namespace

QList<WinPortList::Port> WinPortList::available() {
    const QHash<QString, QString> friendly = friendlyNames();
    QList<Port> ports;
    for (const QString& name : mappedPorts())
        ports.append({name, friendly.value(name.toUpper())});
    // COM2 before COM10; names that are no COMn after them, by name.
    std::sort(ports.begin(), ports.end(), [](const Port& a, const Port& b) {
        const std::optional<int> x = comPortNumber(a.name);
        const std::optional<int> y = comPortNumber(b.name);
        if (x && y && *x != *y)
            return *x < *y;
        if (x.has_value() != y.has_value())
            return x.has_value();
        return a.name < b.name;
    });
    return ports;
}

} // namespace trv
