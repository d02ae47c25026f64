#include "bridge/pjlink/NotifyTarget.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace trv::bridge::pjlink {

std::optional<NotifyTarget> NotifyTarget::parse(const QString& given, QString& error) {
    const QString text = given.trimmed();
    NotifyTarget target;
    QString host = text;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || (close + 1 < text.size() && text[close + 1] != QLatin1Char(':'))) {
            error = QStringLiteral("an IPv6 address in brackets, then :PORT or nothing");
            return std::nullopt;
        }
        host = text.mid(1, close - 1);
        if (close + 1 < text.size())
            port = text.mid(close + 2);
        else
            port = QString::number(kDefaultPort);
        if (!QHostAddress(host).isNull() &&
            QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol) {
            error = QStringLiteral("only an IPv6 address goes in brackets");
            return std::nullopt;
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        host = text.section(QLatin1Char(':'), 0, 0);
        port = text.section(QLatin1Char(':'), 1);
    } else {
        port = QString::number(kDefaultPort); // a name, an IPv4 address or a bare IPv6 one
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number == 0 || number > 65535) {
        error = QStringLiteral("the port is 1 to 65535");
        return std::nullopt;
    }
    const QHostAddress address(host);
    // A name as DNS takes it: labels of letters, digits and inner hyphens.
    static const QRegularExpression name(QStringLiteral(
        "^(?=.{1,253}$)([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)(\\.[A-Za-z0-9]([A-Za-z0-9-]"
        "{0,61}[A-Za-z0-9])?)*\\.?$"));
    if (address.isNull() && !name.match(host).hasMatch()) {
        error = QStringLiteral("a host name or an IP address");
        return std::nullopt;
    }
    if (!address.isNull() &&
        (address.isMulticast() || address == QHostAddress::Broadcast ||
         address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)) {
        error = QStringLiteral("one host's address, not a broadcast, multicast or any address");
        return std::nullopt;
    }
    target.host = address.isNull() ? host : address.toString();
    target.port = quint16(number);
    return target;
}

QString NotifyTarget::text() const {
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

} // namespace trv::bridge::pjlink
