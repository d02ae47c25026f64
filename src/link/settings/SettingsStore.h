#pragma once

#include "link/transport/TlsSettings.h"

#include <QString>

namespace trv {

// The per-user store of the three start-up values (application "ZEKO", section "StartUP").
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or `fallback` when the key is absent or the store is unreadable.
    virtual QString read(const QString& key, const QString& fallback) = 0;
    // Creates or replaces the value; false when it could not be saved.
    virtual bool write(const QString& key, const QString& value) = 0;
    // The [Ports] entry for COM n (what the port opens), empty when there is none.
    virtual QString portMapping(int /*portNo*/) { return {}; }
    // The [Log] entry File: where the traffic record goes, empty for none.
    virtual QString logFile() { return {}; }
    // The [TLS] entries CAFile, Fingerprint, CertFile and KeyFile: how device servers behind
    // TLS are checked.
    virtual TlsSettings tlsSettings() { return {}; }
    // Why the last write failed, when the store knows more than that it failed.
    virtual QString writeProblem() const { return {}; }
};

} // namespace trv
