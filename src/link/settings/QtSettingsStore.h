#pragma once

#include "link/settings/SettingsStore.h"

#include <QSettings>
#include <QVariantMap>
#include <memory>

namespace trv {

// SettingsStore in the platform's native per-user settings: ~/.config/ZEKO/ZEKO.conf on Linux,
// HKCU\Software\VB and VBA Program Settings\ZEKO in the registry on Windows; a profile's in
// ~/.config/ZEKO/profiles/NAME.conf or ...\ZEKO\Profiles\NAME.
// A file that is not a regular file, or far larger than anything the program writes, is left
// alone: nothing is read from it and nothing written over it. A symbolic link is followed, so
// a file kept elsewhere and linked into place is read and saved where it lies.
class QtSettingsStore final : public SettingsStore {
public:
    static constexpr qint64 kLargestFile = 1024 * 1024;

    // The default settings, or those of the profile named (a name ProfileName accepts).
    explicit QtSettingsStore(const QString& profile = {});
    ~QtSettingsStore() override;

    // The names of the profiles stored, sorted.
    static QStringList profiles();
    // The file a panel holds locked while it runs on the profile (empty: the default).
    static QString panelLockFile(const QString& profile);

    QString read(const QString& key, const QString& fallback) override;
    bool write(const QString& key, const QString& value) override;
    QString writeProblem() const override { return problem_; }
    QString portMapping(int portNo) override;
    QString logFile() override;
    TlsSettings tlsSettings() override;

    QString fileName() const { return path_; }

private:
    QString readRaw(const QString& groupAndKey, const QString& fallback);

    QString path_;
    QString problem_;
#ifdef Q_OS_UNIX
    QVariantMap values_; // what the file held when last read or saved
#else
    std::unique_ptr<QSettings> settings_; // the registry
#endif
};

} // namespace trv
