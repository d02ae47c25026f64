#pragma once

#include "link/transport/LineDevice.h"
#include "link/transport/PortMap.h"
#include "link/transport/TelnetFilter.h"

#include <QDeadlineTimer>
#include <QtNetwork/qtnetworkglobal.h>
#if QT_CONFIG(ssl)
#include <QSslError>
#include <QSslSocket>
#endif
#include <QTcpSocket>
#include <memory>

namespace trv {

// A serial device server: a raw TCP connection, or Telnet with the COM port control of
// RFC 2217, which also carries the line settings; either of them possibly inside TLS, with
// the server's certificate checked before anything of the line is sent.
class SocketLine final : public LineDevice {
    Q_OBJECT
public:
    // For the connection and, behind TLS, its handshake together.
    static constexpr int kConnectTimeoutMs = 3000;
    // How long the server has to agree to COM port control once connected.
    static constexpr int kNegotiationTimeoutMs = 3000;
    // After the TLS handshake some servers still judge the client's certificate: this long, at
    // most, their first word (or their hanging up) is waited for before the line counts as open.
    static constexpr int kSettleMs = 300;

    explicit SocketLine(const PortTarget& target, QObject* parent = nullptr);
    ~SocketLine() override;

    // Why this build cannot speak TLS, empty when it can.
    static QString tlsUnavailable();

    QIODevice& io() override;
    SerialPort::OpenResult open(const LineSettings& settings) override;
    void apply(const LineSettings& settings) override;
    void setReadLimit(qint64 bytes) override;
    void fetch() override;
    void flush() override { socket_.flush(); }
    void close() override;

private:
    SerialPort::OpenResult connectToServer(const QDeadlineTimer& deadline);
    SerialPort::OpenResult negotiate(const LineSettings& settings);
    void dropped();
#if QT_CONFIG(ssl)
    // The TLS configuration, from files read now; empty when done, else why not.
    QString configure();
    SerialPort::OpenResult handshake(const QDeadlineTimer& deadline);
    QString handshakeFailure() const;
    // Why a server that hangs up on the handshake did so.
    QString refusedClient() const;
    QString explain(const QSslError& error) const;

    QSslSocket socket_;
    QList<QSslError> sslErrors_;
#else
    QTcpSocket socket_;
#endif
    PortTarget target_;
    std::unique_ptr<TelnetFilter> telnet_;
    bool open_ = false;
};

} // namespace trv
