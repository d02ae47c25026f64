#pragma once

#include <QList>
#include <QString>

namespace trv {

// The serial ports Windows knows of now, as `trv-ctl ports` lists them.
class WinPortList {
public:
    struct Port {
        QString name;        // COMn
        QString description; // the device's friendly name, or empty
    };

    // The ports of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, in the order of their numbers.
    static QList<Port> available();
};

} // namespace trv
