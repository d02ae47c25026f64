#include "link/transport/PortMap.h"

#include "link/settings/SettingsStore.h"

#include <QByteArray>
#include <QObject>
#include <QRegularExpression>

namespace trv {
namespace {

QString platformDevice(int portNo) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNo);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNo - 1);
#endif
}

QString environmentTarget(int portNo) {
    const QByteArray variable = "ZEKO_COM" + QByteArray::number(portNo);
    return qEnvironmentVariable(variable.constData());
}

PortTarget invalid(const QString& text, const QString& why) {
    PortTarget target;
    target.text = text;
    target.why = why;
    target.error = QObject::tr("%1: %2").arg(text, why);
    return target;
}

} // namespace

PortTarget PortTarget::parse(const QString& text) {
    const QString trimmed = text.trimmed();
    const qsizetype schemeEnd = trimmed.indexOf(QLatin1String("://"));
    if (schemeEnd < 0) {
        if (trimmed.isEmpty())
            return invalid(text, QObject::tr("no device or address given"));
        PortTarget target;
        target.kind = Kind::Device;
        target.path = trimmed;
        target.text = trimmed;
        return target;
    }
    const QString scheme = trimmed.left(schemeEnd).toLower();
    Kind kind = Kind::Invalid;
    const bool secure = scheme.endsWith(QLatin1Char('s'));
    const QString plain = secure ? scheme.chopped(1) : scheme;
    if (plain == QLatin1String("tcp"))
        kind = Kind::Tcp;
    else if (plain == QLatin1String("rfc2217"))
        kind = Kind::Rfc2217;
    else
        return invalid(trimmed, QObject::tr("unknown scheme \"%1\" (use tcp://, rfc2217://, "
                                            "tcps:// or rfc2217s://)")
                                    .arg(scheme));
    // HOST:PORT, the host possibly an IPv6 address in brackets.
    const QString rest = trimmed.mid(schemeEnd + 3);
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0 || colon == rest.size() - 1)
        return invalid(trimmed, QObject::tr("expected HOST:PORT"));
    QString host = rest.left(colon);
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')) || host.contains(QLatin1Char('[')))
        return invalid(trimmed, QObject::tr("expected HOST:PORT (an IPv6 address in brackets)"));
    bool ok = false;
    const uint port = rest.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return invalid(trimmed, QObject::tr("the port must be a number from 1 to 65535"));
    if (host.isEmpty() || host.contains(QLatin1Char('/')) || host.contains(QLatin1Char(' ')))
        return invalid(trimmed, QObject::tr("expected HOST:PORT"));
    PortTarget target;
    target.kind = kind;
    target.host = host;
    target.port = quint16(port);
    target.secure = secure;
    target.text = trimmed;
    return target;
}

PortTarget PortMap::targetFor(int portNo) const {
    QString text = environmentTarget(portNo);
    if (text.isEmpty() && store_ != nullptr)
        text = store_->portMapping(portNo);
    if (text.isEmpty())
        text = platformDevice(portNo);
    return targetFor(text);
}

PortTarget PortMap::targetFor(const QString& text) const {
    PortTarget target = PortTarget::parse(text);
    if (target.secure && store_ != nullptr)
        target.tls = store_->tlsSettings();
    return target;
}

std::optional<int> comPortNumber(const QString& text) {
    static const QRegularExpression comN(QStringLiteral("^COM([0-9]+)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comN.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt(); // 0 when it overflows
}

QString devicePathForPort(int portNo) {
    const QString mapped = environmentTarget(portNo);
    return mapped.isEmpty() ? platformDevice(portNo) : mapped;
}

} // namespace trv
