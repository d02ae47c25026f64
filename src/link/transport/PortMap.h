#pragma once

#include "link/transport/TlsSettings.h"

#include <QString>
#include <optional>

namespace trv {

class SettingsStore;

// What a COM number leads to: a local device, a raw TCP device server or an RFC 2217 server,
// either of them possibly behind TLS (tcps://, rfc2217s://).
struct PortTarget {
    enum class Kind { Device, Tcp, Rfc2217, Invalid };
    Kind kind = Kind::Invalid;
    QString path; // Device
    QString host; // Tcp, Rfc2217
    quint16 port = 0;
    bool secure = false; // Tcp, Rfc2217: TLS first
    TlsSettings tls;     // secure: how the server is checked
    QString text;        // as written
    QString error;       // Invalid: the text and why
    QString why;         // Invalid: why alone

    static PortTarget parse(const QString& text);
    bool isNetwork() const { return kind == Kind::Tcp || kind == Kind::Rfc2217; }
};

// Resolves COM n: $ZEKO_COM<n>, else the store's [Ports] entry COM<n>, else the platform's
// own device name.
class PortMap {
public:
    explicit PortMap(SettingsStore* store = nullptr) : store_(store) {}
    PortTarget targetFor(int portNo) const;
    // A device or an address as given, with the store's TLS settings.
    PortTarget targetFor(const QString& text) const;

private:
    SettingsStore* store_;
};

// Device path for COM n from the environment or the platform alone (no port map).
QString devicePathForPort(int portNo);

// The n of a text "COMn" in any case (0 when n is too large to read), or nothing when the text
// names something else.
std::optional<int> comPortNumber(const QString& text);

} // namespace trv
