#include "link/settings/QtSettingsStore.h"

#include "link/settings/ProfileName.h"

#include <QDir>
#include <QStandardPaths>
#ifdef Q_OS_UNIX
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace trv {
namespace {
const QString kSection = QStringLiteral("StartUP");
const QString kName = QStringLiteral("ZEKO");

// The folder of the default settings file on Linux; on Windows, where the panel's lock lies.
QString userFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + kName;
}

QString profileFolder() { return userFolder() + QStringLiteral("/profiles"); }

#ifdef Q_OS_UNIX
QString notRegular(const QString& path) {
    return QObject::tr("%1 is not a regular file; it is left as it is.").arg(path);
}

QString tooLarge(const QString& path) {
    return QObject::tr("%1 is larger than 1 MiB and looks damaged; it is left as it is.").arg(path);
}

QString unreadable(const QString& path, int error) {
    return QObject::tr("%1 cannot be read (%2); it is left as it is.")
        .arg(path, qt_error_string(error));
}

// Closes a descriptor on leaving its scope.
struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

// A settings file's text as read, or why it was not.
struct Content {
    QByteArray text;
    QString problem; // why the file is to be left alone, empty when it may be used
};

// The file's content, checked and read through one descriptor: a name checked and then opened
// again may have become a FIFO in between, and opening a FIFO blocks.
Content load(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    // Looked at by name first only so that a device node is not even opened: opening one can
    // act on the device.
    if (::stat(name.constData(), &info) != 0)
        return {}; // nothing saved yet
    if (!S_ISREG(info.st_mode))
        return {{}, notRegular(path)};
    // Non-blocking, so that a FIFO put in the file's place since is opened without waiting.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {{}, errno == ENOENT ? QString() : unreadable(path, errno)};
    const Descriptor closer{fd};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return {{}, notRegular(path)};
    if (info.st_size > QtSettingsStore::kLargestFile)
        return {{}, tooLarge(path)};
    QByteArray text;
    char chunk[16 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {{}, unreadable(path, errno)};
        if (got == 0)
            return {text, {}};
        text.append(chunk, got);
        if (text.size() > QtSettingsStore::kLargestFile) // grown since fstat
            return {{}, tooLarge(path)};
    }
}

// What QSettings makes of a settings text.
struct Parsed {
    bool ok = false;      // false when no private copy could be made
    bool unsplit = false; // the text could not even be split into sections
    QVariantMap values;   // "Section/Key" to value
    QByteArray text;      // as written back after a change
};

// The values in `text`, and the text again with `key` set to `value` when a key is given.
// QSettings reads and writes INI text only through a file name, so a copy in a private folder
// stands in for the file, which itself is only read through a checked descriptor.
Parsed parse(const QByteArray& text, const QString& key = {}, const QString& value = {}) {
    const QTemporaryDir dir;
    QFile copy(dir.path() + QStringLiteral("/copy.conf"));
    if (!dir.isValid() || !copy.open(QIODevice::WriteOnly) || copy.write(text) != text.size())
        return {};
    copy.close();
    QSettings settings(copy.fileName(), QSettings::IniFormat);
    Parsed parsed;
    parsed.unsplit = settings.status() == QSettings::FormatError;
    if (!key.isEmpty()) {
        settings.setValue(key, value);
        settings.sync();
        // A format error is the reading's; the text has been written afresh all the same.
        if (settings.status() == QSettings::AccessError || !copy.open(QIODevice::ReadOnly))
            return {};
        parsed.text = copy.readAll();
    }
    for (const QString& each : settings.allKeys())
        parsed.values.insert(each, settings.value(each));
    parsed.ok = true;
    return parsed;
}

QString userFile(const QString& profile) {
    return profile.isEmpty()
               ? userFolder() + QLatin1Char('/') + kName + QStringLiteral(".conf")
               : profileFolder() + QLatin1Char('/') + profile + QStringLiteral(".conf");
}
#else
const QString kKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\") + kName;
const QString kProfilesKey = kKey + QStringLiteral("\\Profiles");
#endif
} // namespace

QString QtSettingsStore::panelLockFile(const QString& profile) {
    // The leading dot hides it, and keeps Windows from taking a profile named like a device
    // ("COM3") for that device.
    return (profile.isEmpty() ? userFolder() : profileFolder()) + QStringLiteral("/.") +
           (profile.isEmpty() ? kName : profile) + QStringLiteral(".panel.lock");
}

QStringList QtSettingsStore::profiles() {
    QStringList names;
#ifdef Q_OS_UNIX
    for (const QString& file :
         QDir(profileFolder()).entryList({QStringLiteral("*.conf")}, QDir::Files, QDir::Name))
        names << file.chopped(5);
#else
    names = QSettings(kProfilesKey, QSettings::NativeFormat).childGroups();
#endif
    // What no --profile could name is not a profile.
    names.removeIf([](const QString& name) { return !ProfileName::problem(name).isEmpty(); });
    names.sort();
    return names;
}

#ifdef Q_OS_UNIX
QtSettingsStore::QtSettingsStore(const QString& profile) : path_(userFile(profile)) {
    Q_ASSERT(profile.isEmpty() || ProfileName::problem(profile).isEmpty());
    const Content content = load(path_);
    problem_ = content.problem;
    if (!problem_.isEmpty())
        return;
    const Parsed parsed = parse(content.text);
    // Text that cannot even be split into sections gives nothing at all.
    if (parsed.ok && !parsed.unsplit)
        values_ = parsed.values;
}
#else
// Where the per-user application settings of Windows programs of this kind have always been
// kept (one key per application, one subkey per section, every value as text), so the
// settings a user already has on the machine are found.
QtSettingsStore::QtSettingsStore(const QString& profile)
    : settings_(std::make_unique<QSettings>(
          profile.isEmpty() ? kKey : kProfilesKey + QLatin1Char('\\') + profile,
          QSettings::NativeFormat)) {
    Q_ASSERT(profile.isEmpty() || ProfileName::problem(profile).isEmpty());
    path_ = settings_->fileName();
}
#endif

QtSettingsStore::~QtSettingsStore() = default;

QString QtSettingsStore::read(const QString& key, const QString& fallback) {
    return readRaw(kSection + QLatin1Char('/') + key, fallback);
}

QString QtSettingsStore::portMapping(int portNo) {
    return readRaw(QStringLiteral("Ports/COM%1").arg(portNo), QString());
}

QString QtSettingsStore::logFile() { return readRaw(QStringLiteral("Log/File"), QString()); }

TlsSettings QtSettingsStore::tlsSettings() {
    const auto value = [this](const char* key) {
        return readRaw(QStringLiteral("TLS/") + QLatin1String(key), QString()).trimmed();
    };
    return {value("CAFile"), value("Fingerprint"), value("CertFile"), value("KeyFile")};
}

QString QtSettingsStore::readRaw(const QString& path, const QString& fallback) {
#ifdef Q_OS_UNIX
    const QVariant value = values_.value(path);
#else
    if (settings_->status() == QSettings::FormatError)
        return fallback;
    const QVariant value = settings_->value(path);
#endif
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
#ifdef Q_OS_UNIX
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder)) {
        problem_ = QObject::tr("The folder %1 cannot be made.").arg(folder);
        return false;
    }
    // Another program saving at the same moment would otherwise undo this change.
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!lock.lock()) {
        problem_ =
            QObject::tr("%1 cannot be saved: no lock file can be made beside it.").arg(path_);
        return false;
    }
    // Saved on top of what the file holds now, which may have changed since it was read.
    const Content now = load(path_);
    problem_ = now.problem;
    if (!problem_.isEmpty())
        return false;
    const Parsed parsed = parse(now.text, kSection + QLatin1Char('/') + key, value);
    if (!parsed.ok) {
        problem_ = QObject::tr("%1 cannot be saved: no temporary copy can be made.").arg(path_);
        return false;
    }
    // QSaveFile writes a new file beside the old one and renames it into place only when
    // complete: a failed save leaves the previous file whole, and that file is never opened.
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(parsed.text) != parsed.text.size() ||
        !file.commit()) {
        problem_ = QObject::tr("%1 cannot be saved: %2").arg(path_, file.errorString());
        return false;
    }
    values_ = parsed.values;
    return true;
#else
    settings_->setValue(kSection + QLatin1Char('/') + key, value);
    settings_->sync();
    // A format error is the reading's; the settings have been written afresh all the same.
    if (settings_->status() == QSettings::AccessError) {
        problem_ = QObject::tr("%1 cannot be saved: the registry refused the change.").arg(path_);
        return false;
    }
    return true;
#endif
}

} // namespace trv
