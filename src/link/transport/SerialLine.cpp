#include "link/transport/SerialLine.h"

#include <QFileInfo>
#include <utility>

namespace trv {
namespace {

// Qt's names for the settings, in the order of the settings' enumerations.
constexpr QSerialPort::Parity kParities[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                             QSerialPort::EvenParity, QSerialPort::MarkParity,
                                             QSerialPort::SpaceParity};
constexpr QSerialPort::StopBits kStopBits[] = {QSerialPort::OneStop, QSerialPort::OneAndHalfStop,
                                               QSerialPort::TwoStop};
constexpr QSerialPort::FlowControl kFlows[] = {
    QSerialPort::NoFlowControl, QSerialPort::SoftwareControl, QSerialPort::HardwareControl};

} // namespace

SerialLine::SerialLine(const QString& path, QObject* parent) : LineDevice(parent), path_(path) {
    port_.setReadBufferSize(0);
    connect(&port_, &QSerialPort::errorOccurred, this, &SerialLine::onError);
}

SerialLine::~SerialLine() { close(); }

SerialPort::OpenResult SerialLine::open(const LineSettings& settings) {
    port_.setPortName(path_);
    apply(settings);
    if (!port_.open(QIODevice::ReadWrite))
        return {false, describeOpenFailure()};
    // Whatever the device buffered before we opened it belongs to nobody.
    port_.clear(QSerialPort::Input);
    port_.clearError();
    lost_ = false;
#ifdef Q_OS_UNIX
    // Reading stops while arrivals are gathered; this watch alone then tells of a hang-up.
    hangUpWatch_ = new QSocketNotifier(port_.handle(), QSocketNotifier::Exception, this);
    connect(hangUpWatch_, &QSocketNotifier::activated, this, &SerialLine::hungUp);
#endif
    return {true, {}};
}

void SerialLine::apply(const LineSettings& settings) {
    port_.setBaudRate(settings.baudRate);
    port_.setDataBits(QSerialPort::DataBits(settings.dataBits));
    port_.setParity(kParities[int(settings.parity)]);
    port_.setStopBits(kStopBits[int(settings.stopBits)]);
    port_.setFlowControl(kFlows[int(settings.flowControl)]);
}

QString SerialLine::describeOpenFailure() const {
    const QFileInfo info(path_);
    switch (port_.error()) {
    case QSerialPort::DeviceNotFoundError:
        return tr("no such device");
    case QSerialPort::PermissionError:
        if (info.exists() && (!info.isReadable() || !info.isWritable()))
            return tr("permission denied; you may need to be in the \"dialout\" group");
        return tr("busy or locked by another program (%1)").arg(port_.errorString());
    default:
        if (!info.exists())
            return tr("no such device");
        return port_.errorString();
    }
}

void SerialLine::fetch() {
    if (!port_.isOpen() || lost_)
        return;
    if (readyToRead(port_.handle()))
        port_.waitForReadyRead(0);
}

void SerialLine::close() {
    // The watch may be the one telling of the hang-up that closes us.
    if (hangUpWatch_) {
        hangUpWatch_->setEnabled(false);
        std::exchange(hangUpWatch_, nullptr)->deleteLater();
    }
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

void SerialLine::hungUp() {
    hangUpWatch_->setEnabled(false); // a hang-up stays; one report is enough
    // Whatever the line still gives is read first; a read error then reports the loss.
    port_.setReadBufferSize(0);
    fetch();
    if (!lost_) {
        lost_ = true;
        emit lost(tr("the line hung up"));
    }
}

void SerialLine::onError(QSerialPort::SerialPortError error) {
    // After a hang-up the device reports read errors as fast as the event loop turns; the port
    // closes the line at the first.
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        if (!lost_ && port_.isOpen()) {
            lost_ = true;
            emit lost(error == QSerialPort::WriteError
                          ? tr("the line failed: %1").arg(port_.errorString())
                          : tr("the line hung up"));
        }
        break;
    default:
        // Modem-line errors of a port without them (a pseudo-terminal refusing DTR/RTS) and
        // the like are not failures of the line.
        break;
    }
}

} // namespace trv
