#include "PortMap.h"

#include <QByteArray>

namespace trv {

QString devicePathForPort(int portNo) {
    const QByteArray variable = "ZEKO_COM" + QByteArray::number(portNo);
    const QString mapped = qEnvironmentVariable(variable.constData());
    if (!mapped.isEmpty())
        return mapped;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNo);
#else
    return QStringLiteral("/dev/ttyS%1").arg(portNo - 1);
#endif
}

} // namespace trv
