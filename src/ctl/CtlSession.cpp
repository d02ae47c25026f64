#include "ctl/CtlSession.h"

#include "link/settings/PortValues.h"
#include "link/settings/StartupSettings.h"

#include <QEventLoop>
#include <QTimer>

namespace trv::ctl {

CtlSession::CtlSession(const CtlOptions& options)
    : options_(options), store_(options.profile), port_(PortMap(&store_)), link_(port_, clock_) {
    started_.start();
    connect(&port_, &SerialPort::linkLost, this, [this](const QString& reason) {
        if (!lost())
            lostReason_ = reason.isEmpty() ? tr("no reason given") : reason;
    });
}

// Closed here, while the link is there to record it.
CtlSession::~CtlSession() { port_.close(); }

bool CtlSession::open(QString& reason) {
    // The traffic record: --log, else the stored one; from before the port opens.
    if (const QString file = options_.logFile.isEmpty() ? store_.logFile() : options_.logFile;
        !file.isEmpty() && !record_) {
        record_ = std::make_unique<TrafficRecord>(file);
        connect(record_.get(), &TrafficRecord::failed, this, &CtlSession::recordFailed);
        link_.setRecord(record_.get());
        record_->open();
    }
    // The port: --port as COMn, a device or an address; else what the panel stored.
    int portNo = 0;
    if (options_.port.isEmpty()) {
        portNo = StartupSettings::portNo(store_);
        if (portNo == 0) {
            reason = tr("No port is stored: choose one in trv-panel or give --port.");
            return false;
        }
    } else {
        portNo = comPortNumber(options_.port).value_or(0); // 1 to 15: the options are checked
    }
    if (portNo != 0) {
        port_.setPortNumber(portNo);
        where_ =
            QStringLiteral("COM%1 (%2)").arg(portNo).arg(PortMap(&store_).targetFor(portNo).text);
    } else {
        port_.setTarget(PortMap(&store_).targetFor(options_.port));
        where_ = options_.port;
    }
    // The speed and the unit address: given, or stored.
    const std::uint8_t baudCode = options_.baud == 0      ? StartupSettings::baudCode(store_)
                                  : options_.baud == 9600 ? 96
                                                          : 192;
    port_.setSettings(lineSettingsFor(baudCode));
    link_.UnitAddress = options_.addressGiven ? options_.address.toStdString()
                                              : StartupSettings::unitAddress(store_);
    const SerialPort::OpenResult result = port_.open();
    if (!result.ok) {
        reason = result.reason;
        return false;
    }
    // The reply window; the displays are never cleared under the program.
    link_.timer2().setInterval(options_.timeoutMs);
    link_.timer4().setInterval(options_.timeoutMs + 3600 * 1000);
    return true;
}

bool CtlSession::send(const QString& command) {
    if (lost())
        return false;
    link_.commandText = command.toStdString() + '\r';
    const bool written = link_.Hyouji(link_.commandText, 1);
    if (!written && !lost())
        lostReason_ = tr("the port refused the command");
    // A loss reported during the write leaves it unknown whether the command went out.
    return written && !lost();
}

ExchangeResult CtlSession::exchange(const QString& command) {
    ExchangeResult result;
    result.command = command.toStdString();
    link_.setStatus({});
    result.sentAtMs = started_.elapsed();
    if (!send(command))
        return result;
    result.sent = link_.commandText;
    QEventLoop loop;
    const auto arrived = connect(&link_, &ProjectorLink::displayChanged, &loop, [&] {
        if (result.replied)
            return;
        // The end of the reply window empties the receive buffer before it is seen here: keep
        // each arrival, so a reply cut short is still there.
        if (!link_.receiveBuffer().empty()) {
            result.received = link_.receiveBuffer();
            // Taken from the same arrival as the status line's text, which later arrivals
            // that do not decode leave as it is.
            if (auto value = ReplyValue::decode(result.sent, result.received))
                result.value = std::move(value);
        }
        if (link_.replyComplete()) {
            result.replied = true;
            result.replyMs = started_.elapsed() - result.sentAtMs;
            loop.quit();
        }
    });
    const auto window = connect(&link_.timer2(), &Timer::timeout, &loop, &QEventLoop::quit);
    const auto gone = connect(&port_, &SerialPort::linkLost, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(arrived);
    disconnect(window);
    disconnect(gone);
    result.tx = link_.display().tx;
    result.rx = link_.display().rx;
    if (!link_.display().status.empty())
        result.decoded = link_.display().status;
    else
        result.value.reset();
    link_.timer2().setEnabled(false);
    link_.resetExchange();
    return result;
}

void CtlSession::hold(const QString& command, double seconds, const std::function<bool()>& stop,
                      int& sends, int& replies) {
    sends = replies = 0;
    // As a held arrow button: short reply windows, one send at once and one every 100 ms.
    link_.timer2().setInterval(150);
    QEventLoop loop;
    QTimer repeat, end, watch;
    repeat.setTimerType(Qt::PreciseTimer);
    end.setTimerType(Qt::PreciseTimer);
    end.setSingleShot(true);
    bool answered = false;
    QElapsedTimer held;
    held.start();
    const auto sendDue = [&] {
        // The sends of a hold of S seconds are those due before S: at 0, 100, ... ms. Half a
        // period of margin keeps a tick that comes a little early or late on the right side.
        const bool due = held.elapsed() + kHoldPeriodMs / 2 < seconds * 1000 || sends == 0;
        if (stop() || lost() || !due) {
            repeat.stop();
            loop.quit();
            return;
        }
        answered = false;
        if (send(command)) {
            ++sends;
        } else {
            repeat.stop();
            loop.quit();
        }
    };
    connect(&link_, &ProjectorLink::displayChanged, &loop, [&] {
        if (!answered && link_.replyComplete()) {
            answered = true;
            ++replies;
        }
    });
    connect(&repeat, &QTimer::timeout, &loop, sendDue);
    connect(&end, &QTimer::timeout, &loop, [&] {
        repeat.stop();
        loop.quit();
    });
    // Ctrl+C is seen within 10 ms and never after a send it should have prevented.
    connect(&watch, &QTimer::timeout, &loop, [&] {
        if (stop()) {
            repeat.stop();
            loop.quit();
        }
    });
    connect(&port_, &SerialPort::linkLost, &loop, &QEventLoop::quit);
    link_.holdStarted();
    sendDue();
    repeat.start(kHoldPeriodMs);
    end.start(int(seconds * 1000));
    watch.start(10);
    if (sends > 0 && !stop() && !lost())
        loop.exec();
    repeat.stop();
    // The last reply may still be on its way.
    QTimer::singleShot(150, &loop, &QEventLoop::quit);
    if (sends > 0 && !lost())
        loop.exec();
    link_.holdEnded();
    link_.timer2().setInterval(options_.timeoutMs);
}

} // namespace trv::ctl
