#pragma once

#include "ArrivalGatherer.h"
#include "PortMap.h"
#include "SerialPort.h"
#include "TelnetCodec.h"

#include <QTcpSocket>

namespace trv {

// SerialPort on a serial device server: a raw TCP connection, or Telnet with the COM port
// control of RFC 2217, which also carries the line speed. A connection that drops while open
// is closed once and reported as linkLost, like an unplugged adapter.
class NetworkPort final : public SerialPort {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 3000;

    explicit NetworkPort(QObject* parent = nullptr);
    ~NetworkPort() override;

    void setTarget(const PortTarget& target) { target_ = target; }
    void setPortNumber(int) override {}
    void setSettings(const QString& settings) override;
    OpenResult open() override;
    void close() override;
    bool isOpen() const override;
    bool write(const std::string& bytes) override;
    std::string readAll() override;

private:
    void dropped();
    void sendRaw(const std::string& bytes);

    PortTarget target_;
    QTcpSocket socket_;
    ArrivalGatherer gatherer_;
    TelnetCodec telnet_;
    quint32 baud_ = 9600;
    bool open_ = false;
};

} // namespace trv
