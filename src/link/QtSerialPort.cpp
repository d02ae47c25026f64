#include "QtSerialPort.h"

#include "PortMap.h"

#include <QFileInfo>

namespace trv {

QtSerialPort::QtSerialPort(QObject* parent)
    : SerialPort(parent), gatherer_(port_, [this](qint64 size) { port_.setReadBufferSize(size); }) {
    port_.setReadBufferSize(0);
    connect(&gatherer_, &ArrivalGatherer::arrived, this,
            [this] { emit commEvent(kCharactersReceived); });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort() {
    closing_ = true;
    if (port_.isOpen())
        port_.close();
}

void QtSerialPort::setPortNumber(int portNo) {
    portNo_ = portNo;
    path_.clear();
}

void QtSerialPort::setSettings(const QString& settings) {
    baud_ = settings.startsWith(QLatin1String("9600,")) ? 9600 : 19200;
}

SerialPort::OpenResult QtSerialPort::open() {
    if (port_.isOpen())
        return {true, {}};
    const QString path = path_.isEmpty() ? devicePathForPort(portNo_) : path_;
    port_.setPortName(path);
    port_.setBaudRate(baud_);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!port_.open(QIODevice::ReadWrite))
        return {false, describeOpenFailure(path)};
    // Whatever the device buffered before we opened it belongs to nobody.
    port_.clear(QSerialPort::Input);
    port_.clearError();
    return {true, {}};
}

QString QtSerialPort::describeOpenFailure(const QString& path) const {
    const QFileInfo info(path);
    switch (port_.error()) {
    case QSerialPort::DeviceNotFoundError:
        return tr("No such device: %1").arg(path);
    case QSerialPort::PermissionError:
        if (info.exists() && (!info.isReadable() || !info.isWritable()))
            return tr("Permission denied: %1. You may need to be in the \"dialout\" group.")
                .arg(path);
        return tr("Device busy or locked by another program: %1 (%2)")
            .arg(path, port_.errorString());
    default:
        if (!info.exists())
            return tr("No such device: %1").arg(path);
        return tr("%1: %2").arg(path, port_.errorString());
    }
}

void QtSerialPort::close() {
    if (!port_.isOpen())
        return;
    closing_ = true;
    gatherer_.reset();
    port_.close();
    closing_ = false;
}

bool QtSerialPort::isOpen() const { return port_.isOpen(); }

bool QtSerialPort::write(const std::string& bytes) {
    if (!port_.isOpen())
        return false;
    const auto size = static_cast<qint64>(bytes.size());
    if (port_.write(bytes.data(), size) != size)
        return false;
    // Hand the command to the device now, in one piece, rather than at the next turn of the
    // event loop.
    port_.flush();
    return true;
}

std::string QtSerialPort::readAll() {
    if (!port_.isOpen())
        return {};
    const QByteArray data = port_.readAll();
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    // After a hang-up the device reports read errors as fast as the event loop turns; close at
    // once, and only once, since closing raises an error of its own.
    if (error == QSerialPort::NoError || closing_ || !port_.isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError: {
        const QString reason = port_.errorString();
        closing_ = true;
        gatherer_.reset();
        port_.close();
        port_.clearError();
        closing_ = false;
        emit linkLost(reason);
        break;
    }
    default:
        // Modem-line errors of a port without them (a pseudo-terminal refusing DTR/RTS) and
        // the like are not failures of the line.
        break;
    }
}

} // namespace trv
