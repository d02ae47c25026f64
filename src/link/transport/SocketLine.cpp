#include "link/transport/SocketLine.h"

#include <QEventLoop>
#include <QTimer>

namespace trv {
namespace {

// Runs the event loop until `done` holds, or `ms` pass, whichever comes first; `done` is asked
// again whenever `sender` emits `signal` or the socket changes state. True if done.
template <typename Sender, typename Signal, typename Done>
bool waitFor(QAbstractSocket& socket, const Sender* sender, Signal signal, Done done, int ms) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    QObject::connect(sender, signal, &loop, check);
    QObject::connect(&socket, &QAbstractSocket::stateChanged, &loop, check);
    deadline.start(ms);
    // Clicks wait until it is decided.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return done();
}

} // namespace

SocketLine::SocketLine(const PortTarget& target, QObject* parent)
    : LineDevice(parent), target_(target) {
    if (target_.kind == PortTarget::Kind::Rfc2217)
        telnet_ = std::make_unique<TelnetFilter>(socket_);
    connect(&socket_, &QTcpSocket::disconnected, this, &SocketLine::dropped);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &SocketLine::dropped);
}

SocketLine::~SocketLine() { close(); }

QIODevice& SocketLine::io() {
    if (telnet_)
        return *telnet_;
    return socket_;
}

SerialPort::OpenResult SocketLine::open(const LineSettings& settings) {
    SerialPort::OpenResult result = connectToServer();
    if (result.ok && telnet_)
        result = negotiate(settings);
    if (!result.ok) {
        socket_.abort();
        return result;
    }
    open_ = true;
    return result;
}

SerialPort::OpenResult SocketLine::connectToServer() {
    socket_.abort();
    socket_.setReadBufferSize(0);
    socket_.connectToHost(target_.host, target_.port);
    const bool decided = waitFor(
        socket_, &socket_, &QAbstractSocket::stateChanged,
        [this] {
            return socket_.state() == QAbstractSocket::ConnectedState ||
                   socket_.state() == QAbstractSocket::UnconnectedState;
        },
        kConnectTimeoutMs);
    if (socket_.state() == QAbstractSocket::ConnectedState) {
        // A command goes out at once, not held back to be merged with the next.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return {true, {}};
    }
    if (!decided)
        return {false, tr("the connection timed out after %1 s").arg(kConnectTimeoutMs / 1000)};
    switch (socket_.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return {false, tr("connection refused")};
    case QAbstractSocket::HostNotFoundError:
        return {false, tr("host not found")};
    default:
        return {false, socket_.errorString()};
    }
}

SerialPort::OpenResult SocketLine::negotiate(const LineSettings& settings) {
    // The line settings go out only once the server has agreed to take them.
    telnet_->start();
    const auto decided = [this] {
        return telnet_->comPort() != TelnetCodec::ComPort::Asked ||
               socket_.state() != QAbstractSocket::ConnectedState;
    };
    QMetaObject::Connection pulling =
        connect(&socket_, &QIODevice::readyRead, telnet_.get(), &TelnetFilter::pull);
    telnet_->pull();
    waitFor(socket_, telnet_.get(), &TelnetFilter::negotiated, decided, kNegotiationTimeoutMs);
    disconnect(pulling);
    const QString tcp = QStringLiteral("tcp://%1:%2")
                            .arg(target_.host.contains(QLatin1Char(':'))
                                     ? QLatin1Char('[') + target_.host + QLatin1Char(']')
                                     : target_.host)
                            .arg(target_.port);
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return {false, tr("the server closed the connection")};
    switch (telnet_->comPort()) {
    case TelnetCodec::ComPort::Agreed:
        break;
    case TelnetCodec::ComPort::Refused:
        return {false, tr("the server refuses COM port control (RFC 2217), so the line speed "
                          "cannot be set. If the server's own speed is right, use %1.")
                           .arg(tcp)};
    case TelnetCodec::ComPort::Asked:
        return {false, tr("the server did not agree to COM port control (RFC 2217) within %1 "
                          "s. If the server's own speed is right, use %2.")
                           .arg(kNegotiationTimeoutMs / 1000)
                           .arg(tcp)};
    }
    telnet_->sendLineSettings(settings);
    // What came during the negotiation was not asked for.
    telnet_->readAll();
    return {true, {}};
}

void SocketLine::apply(const LineSettings& settings) {
    if (open_ && telnet_)
        telnet_->sendLineSettings(settings);
}

void SocketLine::fetch() {
    if (!open_)
        return;
    if (readyToRead(socket_.socketDescriptor()))
        socket_.waitForReadyRead(0);
}

void SocketLine::close() {
    if (!open_ && socket_.state() == QAbstractSocket::UnconnectedState)
        return;
    open_ = false;
    if (telnet_)
        telnet_->close();
    socket_.abort();
}

void SocketLine::dropped() {
    // A time-out is a wait that found nothing, not a failure of the connection.
    if (!open_ || socket_.error() == QAbstractSocket::SocketTimeoutError)
        return;
    const QAbstractSocket::SocketError error = socket_.error();
    open_ = false; // once
    emit lost(error == QAbstractSocket::RemoteHostClosedError ||
                      error == QAbstractSocket::UnknownSocketError
                  ? tr("the server closed the connection")
                  : tr("the connection broke: %1").arg(socket_.errorString()));
}

} // namespace trv
