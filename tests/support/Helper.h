#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace trv::testing {

// Runs trv-fault-helper, optionally as an ordinary user (root passes every permission check).
struct HelperRun {
    int exitCode = -1;
    QString output;
};

// Why the helper cannot run as an ordinary user here, or empty when it can.
QString unprivilegedUnavailable();
HelperRun runHelper(const QStringList& args, const QProcessEnvironment& env, bool unprivileged);
// The user id the helper runs as when unprivileged.
int unprivilegedUid();

} // namespace trv::testing
