#include "QtSettingsStore.h"

namespace trv {
namespace {
const QString kSection = QStringLiteral("StartUP");
}

QtSettingsStore::QtSettingsStore()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("ZEKO"),
                QStringLiteral("ZEKO")) {}

QString QtSettingsStore::read(const QString& key, const QString& fallback) {
    if (settings_.status() == QSettings::FormatError)
        return fallback;
    const QVariant value = settings_.value(kSection + QLatin1Char('/') + key);
    if (!value.isValid())
        return fallback;
    // A value written by hand as a list or the like still reads as text.
    if (value.canConvert<QString>())
        return value.toString();
    return fallback;
}

bool QtSettingsStore::write(const QString& key, const QString& value) {
    // QSettings saves through a temporary file that replaces the old one only when complete,
    // so a failed write leaves the previous file whole.
    settings_.setValue(kSection + QLatin1Char('/') + key, value);
    settings_.sync();
    // A format error is the reading's; the file has been written afresh all the same.
    return settings_.status() != QSettings::AccessError;
}

} // namespace trv
