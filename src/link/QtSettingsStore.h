#pragma once

#include "SettingsStore.h"

#include <QSettings>

namespace trv {

// SettingsStore in the platform's native per-user settings (on Linux ~/.config/ZEKO/ZEKO.conf).
class QtSettingsStore final : public SettingsStore {
public:
    QtSettingsStore();

    QString read(const QString& key, const QString& fallback) override;
    bool write(const QString& key, const QString& value) override;

    QString fileName() const { return settings_.fileName(); }

private:
    QSettings settings_;
};

} // namespace trv
