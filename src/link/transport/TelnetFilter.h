#pragma once

#include "link/transport/TelnetCodec.h"

#include <QIODevice>
#include <QTcpSocket>
#include <string>

namespace trv {

// The data of a Telnet session as a device of its own: reads give the line's bytes with the
// negotiation taken out (and answered), writes go out escaped.
class TelnetFilter final : public QIODevice {
    Q_OBJECT
public:
    explicit TelnetFilter(QTcpSocket& socket, QObject* parent = nullptr);

    // Opens the filter on the connected socket and asks for the options the line needs.
    void start();
    TelnetCodec::ComPort comPort() const { return codec_.comPort(); }
    void sendLineSettings(const LineSettings& settings);
    // Decodes what the socket holds now, answering the server's requests.
    void pull();

    bool isSequential() const override { return true; }
    // What may be data: the negotiation still undecoded in the socket counts until it is read.
    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override { return socket_.bytesToWrite(); }

signals:
    void negotiated();

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    void sendRaw(const std::string& bytes);

    QTcpSocket& socket_;
    TelnetCodec codec_;
    std::string data_;
};

} // namespace trv
