#pragma once

#include "link/transport/LineDevice.h"
#include "link/transport/PortMap.h"
#include "link/transport/TelnetFilter.h"

#include <QTcpSocket>
#include <memory>

namespace trv {

// A serial device server: a raw TCP connection, or Telnet with the COM port control of
// RFC 2217, which also carries the line settings.
class SocketLine final : public LineDevice {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 3000;
    // How long the server has to agree to COM port control once connected.
    static constexpr int kNegotiationTimeoutMs = 3000;

    explicit SocketLine(const PortTarget& target, QObject* parent = nullptr);
    ~SocketLine() override;

    QIODevice& io() override;
    SerialPort::OpenResult open(const LineSettings& settings) override;
    void apply(const LineSettings& settings) override;
    void setReadLimit(qint64 bytes) override { socket_.setReadBufferSize(bytes); }
    void fetch() override;
    void flush() override { socket_.flush(); }
    void close() override;

private:
    SerialPort::OpenResult connectToServer();
    SerialPort::OpenResult negotiate(const LineSettings& settings);
    void dropped();

    PortTarget target_;
    QTcpSocket socket_;
    std::unique_ptr<TelnetFilter> telnet_;
    bool open_ = false;
};

} // namespace trv
