#include "link/transport/TlsSettings.h"

#include <QObject>

namespace trv {

std::optional<QByteArray> TlsSettings::parseFingerprint(const QString& text) {
    QString hex = text.trimmed();
    if (hex.startsWith(QLatin1String("sha256:"), Qt::CaseInsensitive))
        hex = hex.mid(7);
    else if (hex.startsWith(QLatin1String("sha256 fingerprint="), Qt::CaseInsensitive))
        hex = hex.mid(19); // as `openssl x509 -fingerprint -sha256` prints it
    hex.remove(QLatin1Char(':')).remove(QLatin1Char(' '));
    if (hex.size() != 64)
        return std::nullopt;
    for (const QChar c : hex) {
        if (!c.isDigit() && !(c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')))
            return std::nullopt;
    }
    return QByteArray::fromHex(hex.toLatin1());
}

QString TlsSettings::formatFingerprint(const QByteArray& digest) {
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

QStringList TlsSettings::storeKeys() {
    return {QStringLiteral("[TLS] CAFile="), QStringLiteral("[TLS] Fingerprint="),
            QStringLiteral("[TLS] CertFile="), QStringLiteral("[TLS] KeyFile=")};
}

TlsSettings TlsSettings::daemon() {
    TlsSettings settings;
    settings.keys = QStringList{QStringLiteral("tls-ca-file"), QStringLiteral("tls-fingerprint"),
                                QStringLiteral("tls-cert-file"), QStringLiteral("tls-key-file")};
    return settings;
}

bool TlsSettings::set(const QString& key, const QString& value) {
    QString* const fields[] = {&caFile, &fingerprint, &certFile, &keyFile};
    const qsizetype i = keys.indexOf(key);
    Q_ASSERT(i >= 0);
    if (i == 1 && !value.isEmpty() && !parseFingerprint(value))
        return false;
    *fields[i] = value;
    return true;
}

QString TlsSettings::problem() const {
    const QStringList& names = keys;
    if (!fingerprint.isEmpty() && !parseFingerprint(fingerprint))
        return QObject::tr("%1 \"%2\" is not a SHA-256 fingerprint (64 hexadecimal digits, "
                           "colons allowed)")
            .arg(names[1], fingerprint);
    if (!keyFile.isEmpty() && certFile.isEmpty())
        return QObject::tr("%1 is given without %2").arg(names[3], names[2]);
    return {};
}

} // namespace trv
