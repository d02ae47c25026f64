#include "Helper.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

namespace trv::testing {
namespace {

constexpr int kNobody = 65534;

// The helper copied into a folder anyone may enter: the build folder may lie where only root
// can reach it (a clone under /root).
QString openHelper() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/trv-helper-XXXXXX"));
    static const QString path = [] {
        const QString copy = dir.path() + QStringLiteral("/trv-fault-helper");
        if (!dir.isValid() || !QFile::copy(QStringLiteral(TRV_FAULT_HELPER), copy))
            return QStringLiteral(TRV_FAULT_HELPER);
        chmod(dir.path().toLocal8Bit().constData(), 0755);
        chmod(copy.toLocal8Bit().constData(), 0755);
        return copy;
    }();
    return path;
}

QStringList command(const QStringList& args, bool unprivileged) {
    const bool drop = unprivileged && geteuid() == 0;
    QStringList full{drop ? openHelper() : QStringLiteral(TRV_FAULT_HELPER)};
    full += args;
    if (drop) {
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
    return {};
}

} // namespace trv::testing
