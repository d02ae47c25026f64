#include "link/PortValues.h"
#include "link/QtClock.h"
#include "link/QtSettingsStore.h"
#include "link/transport/DevicePort.h"
#include "windows/common/QtMessageBox.h"
#include "windows/panel/Form1.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    trv::QtSettingsStore store;
    trv::DevicePort serial{trv::PortMap(&store)};
    trv::QtClock clock;
    trv::QtMessageBox messages;
    trv::PortValues values;
    trv::Form1 form1({serial, store, clock, messages}, values);
    form1.start();
    return QApplication::exec();
}
