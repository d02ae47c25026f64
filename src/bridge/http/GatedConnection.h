#pragma once

#include "bridge/http/HttpGate.h"

#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

namespace trv::http {

// One connection at the gate, living as long as its socket (a child of it, so that it stays
// when the server takes the socket's signals for a WebSocket): it looks at what the socket has
// buffered before the server reads it and holds back whatever is not yet a whole request.
class GatedConnection : public QObject {
    Q_OBJECT
public:
    GatedConnection(QTcpSocket* socket, HttpGate& gate, quint64 id, QString key, QString name);
    ~GatedConnection() override;

    quint64 id() const { return id_; }
    QTcpSocket* socket() const { return socket_; }
    bool upgradeApproved() const { return upgradeApproved_; }
    // Closes once what was written is out, or after the grace time.
    void close(const QString& reason);
    // A reply is on its way: the next request waits until it is out.
    void setAnswering(bool answering);
    // The gate is going: nothing is reported to it any more.
    void detach() { gate_ = nullptr; }

private:
    enum class Wait { Idle, Request, Close };
    // Runs before the server's slot on every arrival.
    void readable();
    // Keeps the bytes from the server until the request is whole.
    void hide();
    void discard();
    void refuse(int status, const QString& reason);
    void wait(Wait kind, int ms);
    void expired();
    void written();

    QTcpSocket* socket_;
    HttpGate* gate_;
    const HttpGate::Limits limits_;
    const quint64 id_;
    const QString key_;
    const QString name_;
    QTimer timer_;
    Wait waiting_ = Wait::Idle;
    bool started_ = false; // bytes of the next request have come
    bool handedOver_ = false;
    bool held_ = false; // a whole request waits for the client to take its replies
    bool answering_ = false;
    bool lingering_ = false; // a refusal on its way out, its sending half closed after it
    bool closing_ = false;
    bool webSocket_ = false;
    bool upgradeApproved_ = false;
};

} // namespace trv::http
