#include "bridge/http/GatedConnection.h"

#include "bridge/http/HeadReader.h"
#include "bridge/http/RequestCheck.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <sys/socket.h>

namespace trv::http {
namespace {

QByteArray statusText(int status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Error";
    }
}

} // namespace

GatedConnection::GatedConnection(QTcpSocket* socket, HttpGate& gate, quint64 id, QString key,
                                 QString name)
    : QObject(socket), socket_(socket), gate_(&gate), limits_(gate.limits()), id_(id),
      key_(std::move(key)), name_(std::move(name)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &GatedConnection::expired);
    connect(socket_, &QIODevice::readyRead, this, &GatedConnection::readable);
    connect(socket_, &QAbstractSocket::disconnected, socket_, &QObject::deleteLater);
    connect(socket_, &QIODevice::bytesWritten, this, &GatedConnection::written);
    wait(Wait::Idle, limits_.idleMs);
}

GatedConnection::~GatedConnection() {
    if (gate_)
        gate_->gone(id_);
}

void GatedConnection::wait(Wait kind, int ms) {
    waiting_ = kind;
    timer_.start(ms);
}

void GatedConnection::expired() {
    switch (waiting_) {
    case Wait::Idle:
        // A reply that waits for the line is not idleness: its client is still owed it.
        if (answering_)
            wait(Wait::Idle, limits_.idleMs);
        else
            close(QStringLiteral("no request for %1 ms").arg(limits_.idleMs));
        break;
    case Wait::Request:
        refuse(408, QStringLiteral("request not complete within %1 ms").arg(limits_.requestMs));
        break;
    case Wait::Close:
        socket_->abort();
        break;
    }
}

void GatedConnection::close(const QString& reason) {
    if (closing_)
        return;
    closing_ = true;
    if (gate_)
        gate_->log(key_, QStringLiteral("closed"), name_ + QStringLiteral(": closed: ") + reason);
    discard();
    wait(Wait::Close, limits_.closeGraceMs);
    socket_->disconnectFromHost();
}

void GatedConnection::discard() {
    if (socket_->isTransactionStarted())
        socket_->rollbackTransaction();
    socket_->skip(socket_->bytesAvailable());
}

void GatedConnection::hide() {
    // The server reads inside a transaction of its own and never gives back what it read of an
    // incomplete request: read it all ahead of it inside ours, given back on the next arrival.
    if (!handedOver_)
        return;
    socket_->startTransaction();
    socket_->read(socket_->bytesAvailable());
}

void GatedConnection::refuse(int status, const QString& reason) {
    if (closing_)
        return;
    if (gate_)
        gate_->log(key_, QStringLiteral("refused %1").arg(status),
                   name_ + QStringLiteral(": refused %1: ").arg(status) + reason);
    const QByteArray body = reason.toUtf8() + '\n';
    socket_->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + statusText(status) +
                   "\r\nContent-Type: text/plain; charset=utf-8\r\n"
                   "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\n"
                   "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'\r\n"
                   "Referrer-Policy: same-origin\r\n"
                   "Connection: close\r\nContent-Length: " +
                   QByteArray::number(body.size()) + "\r\n\r\n" + body);
    closing_ = true;
    discard();
    wait(Wait::Close, limits_.closeGraceMs);
    // A client still sending (a body refused before its end) would have the system answer its
    // next bytes with a reset, which can destroy the refusal before the client reads it. So a
    // plain connection closes its sending half once the refusal is out and goes on discarding
    // until the client closes, or the grace ends.
    auto* tls = qobject_cast<QSslSocket*>(socket_);
    if (tls && tls->isEncrypted()) {
        socket_->disconnectFromHost();
        return;
    }
    lingering_ = true;
    socket_->flush();
    written();
}

void GatedConnection::setAnswering(bool answering) {
    answering_ = answering;
    if (!answering_)
        written();
}

void GatedConnection::written() {
    if (lingering_) {
        if (socket_->bytesToWrite() == 0 && socket_->socketDescriptor() >= 0) {
            lingering_ = false;
            ::shutdown(int(socket_->socketDescriptor()), SHUT_WR);
        }
        return;
    }
    if (!held_ || answering_ || socket_->bytesToWrite() > limits_.unsentBytes)
        return;
    held_ = false;
    // This slot and the server's both look again.
    QMetaObject::invokeMethod(socket_, &QIODevice::readyRead, Qt::QueuedConnection);
}

void GatedConnection::readable() {
    if (webSocket_)
        return;
    if (closing_) {
        discard();
        return;
    }
    if (socket_->isTransactionStarted())
        socket_->rollbackTransaction();
    const qint64 available = socket_->bytesAvailable();
    if (available == 0)
        return;
    if (gate_)
        gate_->touch(id_);
    if (!started_) {
        started_ = true;
        wait(Wait::Request, limits_.requestMs);
    }
    const QByteArray bytes = socket_->peek(std::min(available, limits_.headBytes));
    RequestHead head;
    switch (HeadReader::read(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                             std::size_t(limits_.headBytes), head)) {
    case HeadReader::Status::Incomplete:
        hide();
        return;
    case HeadReader::Status::TooLarge:
        refuse(431, QStringLiteral("request head over %1 bytes").arg(limits_.headBytes));
        return;
    case HeadReader::Status::Malformed:
        refuse(400, QStringLiteral("malformed request head"));
        return;
    case HeadReader::Status::Complete:
        break;
    }
    RequestCheck::Site site;
    if (gate_) {
        site.scheme = gate_->scheme_;
        site.own = gate_->ownAuthority(*socket_);
        site.names = gate_->names_;
    }
    const RequestCheck::Verdict verdict =
        RequestCheck::judge(head, site, std::size_t(limits_.bodyBytes));
    if (verdict.status != 0) {
        refuse(verdict.status, QString::fromStdString(verdict.reason));
        return;
    }
    if (available < qint64(head.size + verdict.bodyLength)) {
        hide();
        return;
    }
    if (handedOver_ && (answering_ || socket_->bytesToWrite() > limits_.unsentBytes)) {
        held_ = true;
        hide();
        return;
    }
    // Through: the server reads this request, and this slot looks again at what follows.
    started_ = false;
    if (gate_)
        gate_->current_ = socket_;
    if (verdict.upgrade) {
        // A WebSocket is kept alive by its pings, no longer by requests.
        webSocket_ = true;
        upgradeApproved_ = true;
        timer_.stop();
    } else {
        wait(Wait::Idle, limits_.idleMs);
    }
    if (!handedOver_) {
        handedOver_ = true;
        if (gate_)
            gate_->handOver(socket_);
    }
}

} // namespace trv::http
