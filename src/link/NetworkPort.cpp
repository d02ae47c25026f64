#include "NetworkPort.h"

#include <QEventLoop>
#include <QTimer>

namespace trv {

NetworkPort::NetworkPort(QObject* parent)
    : SerialPort(parent),
      gatherer_(socket_, [this](qint64 size) { socket_.setReadBufferSize(size); }) {
    connect(&gatherer_, &ArrivalGatherer::arrived, this,
            [this] { emit commEvent(kCharactersReceived); });
    connect(&socket_, &QTcpSocket::disconnected, this, &NetworkPort::dropped);
    connect(&socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The catch-up read's zero wait ends in a time-out; the connection is still there.
        if (error != QAbstractSocket::SocketTimeoutError)
            dropped();
    });
}

NetworkPort::~NetworkPort() { close(); }

void NetworkPort::setSettings(const QString& settings) {
    baud_ = settings.startsWith(QLatin1String("9600,")) ? 9600 : 19200;
    if (open_ && target_.kind == PortTarget::Kind::Rfc2217)
        sendRaw(TelnetCodec::lineSettings(baud_));
}

SerialPort::OpenResult NetworkPort::open() {
    if (open_)
        return {true, {}};
    if (!target_.isNetwork())
        return {false, target_.error.isEmpty() ? tr("No network address") : target_.error};
    socket_.abort();
    socket_.setReadBufferSize(0);
    // Wait for the connection, the name lookup included, at most kConnectTimeoutMs; clicks
    // wait until it is decided.
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto done = connect(&socket_, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    const auto failed = connect(&socket_, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    socket_.connectToHost(target_.host, target_.port);
    deadline.start(kConnectTimeoutMs);
    if (socket_.state() != QAbstractSocket::ConnectedState &&
        socket_.state() != QAbstractSocket::UnconnectedState)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    disconnect(done);
    disconnect(failed);
    const QString& where = target_.text;
    if (socket_.state() != QAbstractSocket::ConnectedState) {
        QString reason;
        switch (socket_.error()) {
        case QAbstractSocket::ConnectionRefusedError:
            reason = tr("Connection refused: %1").arg(where);
            break;
        case QAbstractSocket::HostNotFoundError:
            reason = tr("Host not found: %1").arg(where);
            break;
        default:
            reason = deadline.isActive() ? tr("%1: %2").arg(where, socket_.errorString())
                                         : tr("Connection timed out after %1 s: %2")
                                               .arg(kConnectTimeoutMs / 1000)
                                               .arg(where);
        }
        socket_.abort();
        return {false, reason};
    }
    // A command goes out at once, not held back to be merged with the next.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    open_ = true;
    telnet_ = TelnetCodec();
    if (target_.kind == PortTarget::Kind::Rfc2217)
        sendRaw(telnet_.start() + TelnetCodec::lineSettings(baud_));
    return {true, {}};
}

void NetworkPort::close() {
    if (!open_)
        return;
    open_ = false;
    gatherer_.reset();
    socket_.abort();
}

bool NetworkPort::isOpen() const { return open_; }

void NetworkPort::sendRaw(const std::string& bytes) {
    socket_.write(bytes.data(), qint64(bytes.size()));
    socket_.flush();
}

bool NetworkPort::write(const std::string& bytes) {
    if (!open_)
        return false;
    const std::string wire =
        target_.kind == PortTarget::Kind::Rfc2217 ? TelnetCodec::encode(bytes) : bytes;
    if (socket_.write(wire.data(), qint64(wire.size())) != qint64(wire.size()))
        return false;
    socket_.flush();
    return true;
}

std::string NetworkPort::readAll() {
    if (!open_)
        return {};
    const QByteArray bytes = socket_.readAll();
    std::string data(bytes.constData(), std::size_t(bytes.size()));
    if (target_.kind != PortTarget::Kind::Rfc2217)
        return data;
    std::string answer;
    data = telnet_.decode(data, answer);
    if (!answer.empty())
        sendRaw(answer);
    return data;
}

void NetworkPort::dropped() {
    if (!open_)
        return;
    const QString reason = tr("Connection to %1 lost: %2").arg(target_.text, socket_.errorString());
    // What arrived before the end still belongs to the exchange.
    if (socket_.bytesAvailable() > 0)
        emit commEvent(kCharactersReceived);
    close();
    emit linkLost(reason);
}

} // namespace trv
