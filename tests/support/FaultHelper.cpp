// A small program the fault tests run as another user or kill at will:
//   trv-fault-helper open-port N        open COM N, print the reason on failure; exit 0 if open
//   trv-fault-helper write KEY VALUE    write one stored value; exit 0 if saved
//   trv-fault-helper read KEY           print one stored value (or "<default>")
//   trv-fault-helper save-forever       keep writing ComPort 3 and 4 in turn until killed
#include "link/settings/QtSettingsStore.h"
#include "link/transport/DevicePort.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("open-port") && args.size() == 2) {
        trv::DevicePort port;
        port.setPortNumber(args[1].toInt());
        const trv::SerialPort::OpenResult result = port.open();
        std::printf("%s\n", qPrintable(result.reason));
        return result.ok ? 0 : 1;
    }
    trv::QtSettingsStore store;
    if (command == QLatin1String("write") && args.size() == 3) {
        if (store.write(args[1], args[2]))
            return 0;
        std::printf("%s\n", qPrintable(store.writeProblem()));
        return 1;
    }
    if (command == QLatin1String("read") && args.size() == 2) {
        std::printf("%s\n", qPrintable(store.read(args[1], QStringLiteral("<default>"))));
        return 0;
    }
    if (command == QLatin1String("save-forever")) {
        std::printf("saving\n");
        std::fflush(stdout);
        for (unsigned i = 0;; ++i) {
            store.write(QStringLiteral("ComPort"),
                        i % 2 ? QStringLiteral("3") : QStringLiteral("4"));
            store.write(QStringLiteral("ADRESS"), i % 2 ? QStringLiteral("A001") : QString());
        }
    }
    std::fprintf(stderr, "usage: trv-fault-helper open-port N | write KEY VALUE | read KEY | "
                         "save-forever\n");
    return 2;
}
