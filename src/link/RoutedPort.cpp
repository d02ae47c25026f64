#include "RoutedPort.h"

namespace trv {

RoutedPort::RoutedPort(PortMap map, QObject* parent) : SerialPort(parent), map_(map) {
    for (SerialPort* port :
         {static_cast<SerialPort*>(&device_), static_cast<SerialPort*>(&network_)}) {
        connect(port, &SerialPort::commEvent, this, &SerialPort::commEvent);
        connect(port, &SerialPort::linkLost, this, &SerialPort::linkLost);
    }
}

void RoutedPort::setSettings(const QString& settings) {
    device_.setSettings(settings);
    network_.setSettings(settings);
}

SerialPort::OpenResult RoutedPort::open() {
    if (active_->isOpen())
        return {true, {}};
    const PortTarget target = explicit_ ? *explicit_ : map_.targetFor(portNo_);
    switch (target.kind) {
    case PortTarget::Kind::Invalid:
        return {false, target.error};
    case PortTarget::Kind::Device:
        active_ = &device_;
        device_.setDevicePath(target.path);
        break;
    case PortTarget::Kind::Tcp:
    case PortTarget::Kind::Rfc2217:
        active_ = &network_;
        network_.setTarget(target);
        break;
    }
    return active_->open();
}

} // namespace trv
