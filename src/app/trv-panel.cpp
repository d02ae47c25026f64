#include "common/QtMessageBox.h"
#include "link/PortValues.h"
#include "link/QtClock.h"
#include "link/QtSettingsStore.h"
#include "link/RoutedPort.h"
#include "panel/Form1.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    trv::QtSettingsStore store;
    trv::RoutedPort serial{trv::PortMap(&store)};
    trv::QtClock clock;
    trv::QtMessageBox messages;
    trv::PortValues values;
    trv::Form1 form1({serial, store, clock, messages}, values);
    form1.start();
    return QApplication::exec();
}
