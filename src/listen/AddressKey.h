#pragma once

#include <QHostAddress>
#include <QString>

namespace trv::listen {

// Which peers count as one address for the limits: an IPv4 address (also when it comes as
// IPv4-mapped IPv6), or an IPv6 /64, since one host commonly holds a whole /64.
class AddressKey {
public:
    // "192.0.2.7", "2001:db8:1:2::/64"; empty for an address that is not known.
    static QString of(const QHostAddress& address);
    // The peer as a person reads it: "192.0.2.7:51234", "[2001:db8::1]:51234".
    static QString printable(const QHostAddress& address, quint16 port);
};

} // namespace trv::listen
