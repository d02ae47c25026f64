#pragma once

#include "ArrivalGatherer.h"
#include "SerialPort.h"

#include <QSerialPort>

namespace trv {

// SerialPort on a real device through QSerialPort: 8 data bits, no parity, 1 stop bit, no
// flow control. A device that vanishes while open is closed once and reported as linkLost.
// Arrivals during a flood are gathered, so a chatty line costs a wake-up a window.
class QtSerialPort final : public SerialPort {
    Q_OBJECT
public:
    explicit QtSerialPort(QObject* parent = nullptr);
    ~QtSerialPort() override;

    void setPortNumber(int portNo) override;
    // Opens this device instead of the one COM n names.
    void setDevicePath(const QString& path) { path_ = path; }
    void setSettings(const QString& settings) override;
    OpenResult open() override;
    void close() override;
    bool isOpen() const override;
    bool write(const std::string& bytes) override;
    std::string readAll() override;

private:
    void onError(QSerialPort::SerialPortError error);
    QString describeOpenFailure(const QString& path) const;

    QSerialPort port_;
    ArrivalGatherer gatherer_;
    int portNo_ = 1;
    QString path_;
    qint32 baud_ = 9600;
    bool closing_ = false;
};

} // namespace trv
