#include "Helper.h"

#include <QFile>
#include <QProcess>
#include <unistd.h>

namespace trv::testing {
namespace {

constexpr int kNobody = 65534;

QStringList command(const QStringList& args, bool unprivileged) {
    QStringList full{QStringLiteral(TRV_FAULT_HELPER)};
    full += args;
    if (unprivileged && geteuid() == 0) {
        full.prepend(QStringLiteral("--clear-groups"));
        full.prepend(QStringLiteral("--regid=%1").arg(kNobody));
        full.prepend(QStringLiteral("--reuid=%1").arg(kNobody));
        full.prepend(QStringLiteral("setpriv"));
    }
    return full;
}

} // namespace

int unprivilegedUid() { return geteuid() == 0 ? kNobody : int(geteuid()); }

HelperRun runHelper(const QStringList& args, const QProcessEnvironment& env, bool unprivileged) {
    QStringList full = command(args, unprivileged);
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = full.takeFirst();
    process.start(program, full);
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAll()).trimmed()};
}

QString unprivilegedUnavailable() {
    if (geteuid() != 0)
        return {};
    if (!QFile::exists(QStringLiteral("/usr/bin/setpriv")))
        return QStringLiteral("setpriv is missing, so the tests cannot drop root's privileges");
    // Without arguments the helper prints its usage and exits with 2.
    const HelperRun probe = runHelper({}, QProcessEnvironment::systemEnvironment(), true);
    if (probe.exitCode != 2)
        return QStringLiteral("an ordinary user cannot run the test helper from this folder");
    return {};
}

} // namespace trv::testing
