#pragma once

#include "link/transport/LineDevice.h"

#include <QSerialPort>
#include <QSocketNotifier>

namespace trv {

// A local serial device through QSerialPort. A hang-up (an unplugged adapter, the far end of a
// pseudo-terminal closing) is seen when it happens, even while reading is held back.
class SerialLine final : public LineDevice {
    Q_OBJECT
public:
    explicit SerialLine(const QString& path, QObject* parent = nullptr);
    ~SerialLine() override;

    QIODevice& io() override { return port_; }
    SerialPort::OpenResult open(const LineSettings& settings) override;
    void apply(const LineSettings& settings) override;
    void setReadLimit(qint64 bytes) override { port_.setReadBufferSize(bytes); }
    void fetch() override;
    void flush() override { port_.flush(); }
    void close() override;

private:
    void onError(QSerialPort::SerialPortError error);
    void hungUp();
    QString describeOpenFailure() const;

    QString path_;
    QSerialPort port_;
    QSocketNotifier* hangUpWatch_ = nullptr;
    bool lost_ = false;
};

} // namespace trv
