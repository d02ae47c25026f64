#pragma once

#include <QString>
#include <optional>

namespace trv::bridge::pjlink {

// Where status notifications go: a host name or IP address and a UDP port.
struct NotifyTarget {
    static constexpr quint16 kDefaultPort = 4352;

    QString host; // a name, or an IP address without brackets
    quint16 port = kDefaultPort;

    // "HOST", "HOST:PORT", "[IPV6]:PORT" or a bare IPv6 address; nothing, with `error` saying
    // why, for anything else.
    static std::optional<NotifyTarget> parse(const QString& text, QString& error);
    // As the log names it: "192.0.2.7:4352", "[2001:db8::7]:4352", "panel.example:4352".
    QString text() const;
    bool operator==(const NotifyTarget&) const = default;
};

} // namespace trv::bridge::pjlink
