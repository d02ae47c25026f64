#include "link/ProjectorLink.h"

#include "link/EchoRule.h"
#include "link/ReplyDecoder.h"
#include "link/TrafficRecord.h"

namespace trv {

ProjectorLink::ProjectorLink(SerialPort& serial, Clock& clock, QObject* parent)
    // Precise: coarse timers may shift a tick by 5 %, which lets the reply window and the
    // display clearing (only 500 ms apart at the long periods) fire at the same moment.
    : QObject(parent), serial_(serial), clock_(clock), timer2_(clock.createTimer(10000, true)),
      timer4_(clock.createTimer(10500, true)) {
    connect(&serial_, &SerialPort::commEvent, this, &ProjectorLink::MSComm1_OnComm);
    connect(&serial_, &SerialPort::opened, this, [this](const QString& name) {
        portName_ = name.toStdString();
        recordEvent("opened");
    });
    connect(&serial_, &SerialPort::closed, this, [this] { recordEvent("closed"); });
    connect(&serial_, &SerialPort::linkLost, this,
            [this](const QString& reason) { recordEvent("lost: " + reason.toStdString()); });
    connect(timer2_.get(), &Timer::timeout, this, &ProjectorLink::Timer2_Timer);
    connect(timer4_.get(), &Timer::timeout, this, &ProjectorLink::Timer4_Timer);
}

bool ProjectorLink::Hyouji(std::string& text, std::uint8_t mode) {
    if (mode == 1) {
        // The order on the wire is the order on the displays: a reply still on its way to us
        // is shown as the last exchange's before this one begins.
        takeArrivals();
        text.insert(0, UnitAddress);
        if (!serial_.write(text))
            return false;
        sentCommand_ = commandText;
        display_.rx.clear();
        clearReceiveBuffer();
        const Echo echo = renderEcho(text);
        recordTraffic(TrafficLine::Direction::Tx, echo.text, text);
        showLegends(echo.ack, echo.cr, echo.space);
        display_.tx = echo.text;
        timer2_->setEnabled(true);
        replyPending_ = 1;
        timer4_->setEnabled(true);
        emit displayChanged();
        return true;
    }
    showReceived(text, commandText);
    return true;
}

void ProjectorLink::showReceived(const std::string& text, const std::string& command) {
    const Echo echo = renderEcho(text);
    showLegends(echo.ack, echo.cr, echo.space);
    display_.rx = echo.text;
    if (auto status = decodeReply(command, display_.rx, text.size()))
        display_.status = std::move(*status);
    emit displayChanged();
}

bool ProjectorLink::replyComplete() const {
    return receiveBuffer_.find('\x06') != std::string::npos ||
           receiveBuffer_.find('\r') != std::string::npos;
}

void ProjectorLink::takeArrivals() {
    if (!serial_.isOpen())
        return;
    if (std::string arrived = serial_.readAll(); !arrived.empty())
        received(std::move(arrived), sentCommand_);
}

void ProjectorLink::MSComm1_OnComm(int commEvent) {
    if (commEvent != SerialPort::kCharactersReceived)
        return;
    if (std::string arrived = serial_.readAll(); !arrived.empty())
        received(std::move(arrived), commandText);
}

void ProjectorLink::received(std::string arrived, const std::string& command) {
    Echo echo = renderEcho(arrived);
    // Each delivery as it came, before the buffer's limit may cut it.
    recordTraffic(TrafficLine::Direction::Rx, echo.text, arrived);
    // Text that keeps arriving while nothing is sent would grow without end: start afresh
    // rather than let one buffer outgrow what the line itself could hold.
    if (receiveBuffer_.size() + arrived.size() > kReceiveLimit) {
        clearReceiveBuffer();
        if (arrived.size() > kReceiveLimit) {
            arrived.erase(0, arrived.size() - kReceiveLimit);
            echo = renderEcho(arrived);
        }
    }
    receiveBuffer_ += arrived;
    // The echo's leading blank is the buffer's, not each arrival's.
    receiveEcho_.text.append(echo.text, receiveEcho_.text.empty() ? 0 : 1);
    receiveEcho_.ack = receiveEcho_.ack || echo.ack;
    receiveEcho_.cr = receiveEcho_.cr || echo.cr;
    receiveEcho_.space = receiveEcho_.space || echo.space;
    replyPending_ = 0;
    // Hyouji's receive mode, decoded after the command this answers.
    showLegends(receiveEcho_.ack, receiveEcho_.cr, receiveEcho_.space);
    display_.rx = receiveEcho_.text;
    if (auto status = decodeReply(command, display_.rx, receiveBuffer_.size()))
        display_.status = std::move(*status);
    emit displayChanged();
}

void ProjectorLink::Timer2_Timer() {
    // A reply that came within the window counts, though its arrival was not yet handed over.
    takeArrivals();
    if (replyPending_ == 1) {
        display_.rx = " X X X X ";
        recordEvent(display_.rx);
    }
    timer2_->setEnabled(false);
    display_.legendSpace = false;
    display_.legendCr = false;
    display_.legendAck = false;
    clearReceiveBuffer();
    replyPending_ = 0;
    emit displayChanged();
}

void ProjectorLink::recordTraffic(TrafficLine::Direction direction, std::string text,
                                  const std::string& bytes) {
    if (!record_ && !tap_)
        return;
    const TrafficLine line{clock_.wallNow(), portName_, direction, std::move(text), bytes};
    if (record_)
        record_->write(line);
    if (tap_)
        tap_(line);
}

void ProjectorLink::Timer4_Timer() {
    display_.tx.clear();
    display_.rx.clear();
    display_.status.clear();
    timer4_->setEnabled(false);
    emit displayChanged();
}

void ProjectorLink::resetExchange() {
    replyPending_ = 0;
    clearReceiveBuffer();
}

void ProjectorLink::setTx(std::string text) {
    display_.tx = std::move(text);
    emit displayChanged();
}

void ProjectorLink::setRx(std::string text) {
    display_.rx = std::move(text);
    emit displayChanged();
}

void ProjectorLink::setStatus(std::string text) {
    display_.status = std::move(text);
    emit displayChanged();
}

void ProjectorLink::showLegends(bool ack, bool cr, bool space) {
    display_.legendAck = display_.legendAck || ack;
    display_.legendCr = display_.legendCr || cr;
    display_.legendSpace = display_.legendSpace || space;
}

} // namespace trv
