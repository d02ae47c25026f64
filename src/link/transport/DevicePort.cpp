#include "link/transport/DevicePort.h"

#include "link/transport/SocketLine.h"
#ifdef Q_OS_WIN
#include "link/transport/WinSerialLine.h"
#else
#include "link/transport/SerialLine.h"
#endif

#include <utility>

namespace trv {

DevicePort::DevicePort(PortMap map, QObject* parent) : SerialPort(parent), map_(map) {
    window_.setSingleShot(true);
    window_.setTimerType(Qt::PreciseTimer);
    window_.setInterval(kWindowMs);
    connect(&window_, &QTimer::timeout, this, &DevicePort::windowEnded);
}

DevicePort::~DevicePort() { close(); }

void DevicePort::setPortNumber(int portNo) {
    portNo_ = portNo;
    explicit_.reset();
}

void DevicePort::setSettings(const LineSettings& settings) {
    settings_ = settings;
    if (line_)
        line_->apply(settings_);
}

SerialPort::OpenResult DevicePort::open() {
    if (line_)
        return {true, {}};
    PortTarget target = explicit_ ? *explicit_ : map_.targetFor(portNo_);
    if (tls_ && target.secure)
        target.tls = *tls_;
    LineDevice* line = nullptr;
    switch (target.kind) {
    case PortTarget::Kind::Invalid:
        return {false, named(target, target.why)};
    case PortTarget::Kind::Device:
#ifdef Q_OS_WIN
        line = new WinSerialLine(target.path, this);
#else
        line = new SerialLine(target.path, this);
#endif
        break;
    case PortTarget::Kind::Tcp:
    case PortTarget::Kind::Rfc2217:
        line = new SocketLine(target, this);
        break;
    }
    const OpenResult result = line->open(settings_);
    if (!result.ok) {
        line->deleteLater();
        return {false, named(target, result.reason)};
    }
    line_ = line;
    connect(&line_->io(), &QIODevice::readyRead, this, &DevicePort::readyRead);
    connect(line_, &LineDevice::lost, this, &DevicePort::lost);
    emit opened(explicit_ ? explicit_->text : QStringLiteral("COM%1").arg(portNo_));
    return result;
}

QString DevicePort::named(const PortTarget& target, const QString& reason) const {
    const QString name = explicit_ ? explicit_->text : QStringLiteral("COM%1").arg(portNo_);
    const QString port = target.text.isEmpty() || target.text == name
                             ? name
                             : QStringLiteral("%1 (%2)").arg(name, target.text);
    return QStringLiteral("%1: %2").arg(port, reason);
}

void DevicePort::close() {
    if (!line_)
        return;
    window_.stop();
    gathering_ = heldBack_ = false;
    LineDevice* line = std::exchange(line_, nullptr);
    line->disconnect(this);
    line->io().disconnect(this);
    line->close();
    // Not at once: this may run inside one of the line's own signals.
    line->deleteLater();
    if (!losing_)
        emit closed();
}

qint64 DevicePort::writeQueue() const { return line_ ? line_->io().bytesToWrite() : 0; }

bool DevicePort::write(const std::string& bytes) {
    if (!line_ || losing_)
        return false;
    const auto size = qint64(bytes.size());
    if (line_->io().write(bytes.data(), size) != size)
        return false;
    // Writing may already find the line gone (behind TLS, or through Telnet, the write itself
    // reads what the server sent, its hanging up too).
    if (!line_)
        return false;
    // Hand the command to the line now, in one piece, rather than at the next turn of the loop.
    line_->flush();
    if (!line_ || !checkWriteQueue())
        return false; // lost on the way
    // What comes next is the answer to this command, not more of a flood: it goes on at once.
    window_.stop();
    gathering_ = false;
    releaseHold();
    return true;
}

bool DevicePort::checkWriteQueue() {
    if (writeQueue() <= kWriteLimit)
        return true;
    lost(tr("the server does not read: more than %1 KiB wait to be sent").arg(kWriteLimit / 1024));
    return false;
}

std::string DevicePort::readAll() {
    if (!line_)
        return {};
    if (losing_) {
        // The line is gone: what it read before is all there is.
        const QByteArray data = line_->io().readAll();
        return std::string(data.constData(), std::size_t(data.size()));
    }
    // Bytes held back in the device or still in the line are read too: an arrival that is due
    // must not wait for the window, nor be taken for the next exchange's. A reader answering a
    // delivery takes what was just read; what came since is the window's.
    if (!delivering_ && !takeFromLine())
        return {}; // lost while taking; what was read went out before the loss
    const QByteArray data = line_->io().readAll();
    // Answers to the server's negotiation wait to be written as well.
    checkWriteQueue();
    return std::string(data.constData(), std::size_t(data.size()));
}

void DevicePort::readyRead() {
    if (fetching_)
        return; // the reader takes it
    if (!gathering_) {
        startWindow();
        deliver();
        return;
    }
    holdBack();
}

void DevicePort::deliver() {
    delivering_ = true;
    emit commEvent(kCharactersReceived);
    delivering_ = false;
    // The reader may have written (which ends the window) or closed the port meanwhile.
    if (gathering_ && !losing_)
        holdBack();
}

void DevicePort::holdBack() {
    // What comes next in this window stays in the device, which then reads no further until
    // the window ends: its first arrival wakes the program once, and nothing after it does.
    if (heldBack_ || !line_)
        return;
    heldBack_ = true;
    line_->setReadLimit(std::max<qint64>(1, line_->io().bytesAvailable()));
}

void DevicePort::startWindow() {
    gathering_ = true;
    window_.start();
}

void DevicePort::releaseHold() {
    if (heldBack_) {
        heldBack_ = false;
        line_->setReadLimit(0);
    }
}

bool DevicePort::takeFromLine() {
    releaseHold();
    fetching_ = true;
    line_->fetch();
    fetching_ = false;
    return line_ != nullptr;
}

void DevicePort::windowEnded() {
    if (!line_ || !takeFromLine())
        return;
    if (line_->io().bytesAvailable() <= 0) {
        gathering_ = false; // quiet: the next arrival goes on at once
        return;
    }
    startWindow();
    deliver();
}

void DevicePort::lost(const QString& reason) {
    if (!line_ || losing_)
        return;
    // What was read before the loss still belongs to the exchange.
    losing_ = true;
    window_.stop();
    if (line_->io().bytesAvailable() > 0)
        emit commEvent(kCharactersReceived);
    close();
    losing_ = false;
    emit linkLost(reason);
}

} // namespace trv
