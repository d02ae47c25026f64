#include "QtSettingsStore.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace trv {
namespace {
const QString kSection = QStringLiteral("StartUP");
const QString kName = QStringLiteral("ZEKO");

// Why the file must not be opened, or empty when it may. Checked without opening it: opening
// a FIFO blocks, and saving over a device node would replace it.
QString unusable(const QString& path) {
    if (path.isEmpty())
        return {};
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    if (!info.isFile())
        return QObject::tr("%1 is not a regular file; it is left as it is.").arg(path);
    if (info.size() > QtSettingsStore::kLargestFile)
        return QObject::tr("%1 is larger than 1 MiB and looks damaged; it is left as it is.")
            .arg(path);
    return {};
}

QString userFile() {
#ifdef Q_OS_WIN
    return {}; // the registry
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + kName + QLatin1Char('/') + kName + QStringLiteral(".conf");
#endif
}
} // namespace

QtSettingsStore::QtSettingsStore() : path_(userFile()), problem_(unusable(path_)) {
    if (problem_.isEmpty())
        settings_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                                kName, kName);
    if (settings_ && !settings_->fileName().isEmpty())
        path_ = settings_->fileName();
}

QtSettingsStore::~QtSettingsStore() = default;

QString QtSettingsStore::read(const QString& key, const QString& fallback) {
    return readRaw(kSection + QLatin1Char('/') + key, fallback);
}

QString QtSettingsStore::portMapping(int portNo) {
    return readRaw(QStringLiteral("Ports/COM%1").arg(portNo), QString());
}

QString QtSettingsStore::readRaw(const QString& path, const QString& fallback) {
    if (!settings_ || settings_->status() == QSettings::FormatError)
        return fallback;
    const QVariant value = settings_->value(path);
    if (!value.isValid())
        return fallback;
    // A hand-written value with a comma reads as a list: take it back as the text it was.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    if (value.canConvert<QString>())
        return value.toString();
    return fallback;
}

bool QtSettingsStore::write(const QString& key, const QString& value) {
    if (!settings_)
        return false; // problem_ says why since the start
    // The file may have been replaced since it was read.
    problem_ = unusable(path_);
    if (!problem_.isEmpty())
        return false;
    // QSettings saves through a temporary file that replaces the old one only when complete,
    // so a failed write leaves the previous file whole.
    settings_->setValue(kSection + QLatin1Char('/') + key, value);
    settings_->sync();
    // A format error is the reading's; the file has been written afresh all the same.
    return settings_->status() != QSettings::AccessError;
}

} // namespace trv
