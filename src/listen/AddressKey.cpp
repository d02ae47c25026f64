#include "listen/AddressKey.h"

namespace trv::listen {
namespace {

QHostAddress unmapped(const QHostAddress& address) {
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip4) : address;
}

} // namespace

QString AddressKey::of(const QHostAddress& address) {
    const QHostAddress plain = unmapped(address);
    if (plain.protocol() == QAbstractSocket::IPv4Protocol)
        return plain.toString();
    if (plain.protocol() != QAbstractSocket::IPv6Protocol)
        return {};
    Q_IPV6ADDR bytes = plain.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        bytes[i] = 0;
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

QString AddressKey::printable(const QHostAddress& address, quint16 port) {
    const QHostAddress plain = unmapped(address);
    const QString host = plain.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(plain.toString())
                             : plain.toString();
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace trv::listen
