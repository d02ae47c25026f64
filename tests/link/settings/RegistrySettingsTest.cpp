#include "link/settings/QtSettingsStore.h"

#include <QSettings>
#include <gtest/gtest.h>

namespace trv {
namespace {

// The key where Windows programs of this kind keep their per-user settings, as the store must
// find them.
const QString kKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\ZEKO");

// Puts back whatever the user had under the key, so the test can run on a real desk.
struct KeptSettings {
    QSettings registry{kKey, QSettings::NativeFormat};
    QMap<QString, QVariant> before;
    KeptSettings() {
        for (const QString& key : registry.allKeys())
            before.insert(key, registry.value(key));
    }
    ~KeptSettings() {
        registry.clear();
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            registry.setValue(it.key(), it.value());
    }
};

TEST(RegistrySettings, StoredValuesAreFoundAndSavedAsTextInTheirSection) {
    KeptSettings kept;
    kept.registry.setValue(QStringLiteral("StartUP/ComPort"), QStringLiteral("7"));
    kept.registry.setValue(QStringLiteral("Ports/COM7"), QStringLiteral("tcp://127.0.0.1:4001"));
    kept.registry.sync();

    QtSettingsStore store;
    EXPECT_EQ(store.read(QStringLiteral("ComPort"), QStringLiteral("1")), "7");
    EXPECT_EQ(store.portMapping(7), "tcp://127.0.0.1:4001");
    EXPECT_EQ(store.read(QStringLiteral("ADRESS"), QStringLiteral("none")), "none");

    ASSERT_TRUE(store.write(QStringLiteral("BaudRate"), QStringLiteral("192")));
    QSettings section(kKey + QStringLiteral("\\StartUP"), QSettings::NativeFormat);
    const QVariant saved = section.value(QStringLiteral("BaudRate"));
    EXPECT_EQ(saved.typeId(), QMetaType::QString);
    EXPECT_EQ(saved.toString(), "192");
}

} // namespace
} // namespace trv
