#include "link/transport/WinSerialLine.h"

#include "link/transport/PortMap.h"

#include <algorithm>
#include <optional>

namespace trv {
namespace {

const QString kDevicePrefix = QStringLiteral("\\\\.\\");

// The Win32 names for the settings, in the order of the settings' enumerations.
constexpr BYTE kParities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
constexpr BYTE kStopBits[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};

// The name COMn when the text names one, with or without the device prefix.
std::optional<QString> comName(const QString& text) {
    const QString bare = text.startsWith(kDevicePrefix) ? text.mid(kDevicePrefix.size()) : text;
    if (!comPortNumber(bare))
        return std::nullopt;
    return bare.toUpper();
}

// A read's size when nothing waits: about 20 ms of the line's bytes (ten bits each), so arrivals
// that never pause are still handed over that often, without a wake-up for every few bytes.
DWORD readChunk(const LineSettings& settings) {
    return DWORD(std::max<std::int32_t>(1, settings.baudRate / 500));
}

// What a handle fails with when its device goes away: an unplugged adapter, a closed far end.
bool isHangUp(DWORD error) {
    switch (error) {
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_BROKEN_PIPE:
        return true;
    default:
        return false;
    }
}

} // namespace

WinSerialLine::WinSerialLine(const QString& name, QObject* parent)
    : LineDevice(parent), name_(name) {
    connect(&device_, &WinSerialDevice::failed, this, &WinSerialLine::failed);
}

WinSerialLine::~WinSerialLine() { close(); }

QString WinSerialLine::devicePath(const QString& name) {
    const std::optional<QString> com = comName(name);
    return com ? kDevicePrefix + *com : name;
}

QString WinSerialLine::describeOpenFailure(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return tr("busy: in use by another program");
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return tr("no such port; is the adapter plugged in?");
    default:
        return qt_error_string(int(error));
    }
}

SerialPort::OpenResult WinSerialLine::open(const LineSettings& settings) {
    close();
    const QString path = devicePath(name_);
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return {false, describeOpenFailure(GetLastError())};
    // A read waits for its first byte however long that takes, so a quiet line costs nothing,
    // and ends kGapMs after the last.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kGapMs;
    if (!configure(handle, settings) || !SetCommTimeouts(handle, &timeouts)) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        return {false, tr("the line settings were refused: %1").arg(qt_error_string(int(error)))};
    }
    // Whatever the device buffered before we opened it belongs to nobody.
    PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR);
    lost_ = false;
    device_.setReadChunk(readChunk(settings));
    device_.attach(handle);
    return {true, {}};
}

bool WinSerialLine::configure(HANDLE handle, const LineSettings& settings) const {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return false;
    dcb.BaudRate = DWORD(settings.baudRate);
    dcb.ByteSize = BYTE(settings.dataBits);
    dcb.Parity = kParities[int(settings.parity)];
    dcb.fParity = settings.parity != LineSettings::Parity::None;
    dcb.StopBits = kStopBits[int(settings.stopBits)];
    dcb.fBinary = TRUE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    // A framing or parity error would otherwise stop all reading and writing until cleared.
    dcb.fAbortOnError = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    const bool hardware = settings.flowControl == LineSettings::FlowControl::Hardware;
    const bool software = settings.flowControl == LineSettings::FlowControl::Software;
    dcb.fOutxCtsFlow = hardware;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = software;
    dcb.fInX = software;
    // Drivers refuse equal characters, which an unset state has.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return SetCommState(handle, &dcb);
}

void WinSerialLine::apply(const LineSettings& settings) {
    // A refusal keeps the settings the line runs with, as on the other platforms.
    if (device_.isOpen() && configure(device_.handle(), settings))
        device_.setReadChunk(readChunk(settings));
}

void WinSerialLine::fetch() {
    if (!lost_)
        device_.fetch();
}

void WinSerialLine::close() { device_.close(); }

void WinSerialLine::failed(DWORD error) {
    if (lost_)
        return;
    lost_ = true;
    emit lost(isHangUp(error) ? tr("the line hung up")
                              : tr("the line failed: %1").arg(qt_error_string(int(error))));
}

} // namespace trv
