#pragma once

#include "link/EchoRule.h"
#include "link/TrafficLine.h"
#include "link/clock/Clock.h"
#include "link/transport/SerialPort.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace trv {

class TrafficRecord;

// One exchange with the projector: sending with the unit address in front, the echo of both
// directions, decoding of replies, and the reply-timeout and display-clearing timers.
class ProjectorLink : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kReceiveLimit = 1024; // the line's input buffer size

    // What the traffic displays and legends show.
    struct Display {
        std::string tx;           // Label11
        std::string rx;           // Label12
        std::string status;       // Label25
        bool legendAck = false;   // Label19
        bool legendCr = false;    // Label28
        bool legendSpace = false; // Label27
        bool operator==(const Display&) const = default;
    };

    ProjectorLink(SerialPort& serial, Clock& clock, QObject* parent = nullptr);

    // Mode 1 transmits `text` (rewritten with the unit address in front); any other mode shows
    // `text` as received. Returns false when the port refused the write; then nothing but
    // `text` has changed.
    bool Hyouji(std::string& text, std::uint8_t mode);
    void MSComm1_OnComm(int commEvent);
    void Timer2_Timer();
    void Timer4_Timer();

    // The program-wide command text that panel senders fill and decoders read.
    std::string commandText;
    std::string UnitAddress;

    SerialPort& serial() { return serial_; }
    Timer& timer2() { return *timer2_; }
    Timer& timer4() { return *timer4_; }
    const Display& display() const { return display_; }
    const std::string& receiveBuffer() const { return receiveBuffer_; }
    bool replyPending() const { return replyPending_ != 0; }
    // The receive buffer holds a whole reply: an acknowledge or a carriage return came.
    bool replyComplete() const;

    // Field resets of the main window's load and of the end of a press-and-hold.
    void resetExchange();
    void clearReceiveBuffer() {
        receiveBuffer_.clear();
        receiveEcho_ = {};
    }
    void setTx(std::string text);
    void setRx(std::string text);
    void setStatus(std::string text);

    // Every byte sent and received, the port's opening, closing and loss, a reply that did not
    // come and a hold's start and end go to `record` from now on (none: nullptr).
    void setRecord(TrafficRecord* record) { record_ = record; }
    // The same lines also go to `tap` (none: empty), whether or not a record is kept.
    void setTap(std::function<void(const TrafficLine&)> tap) { tap_ = std::move(tap); }
    void holdStarted() { recordEvent("hold started"); }
    void holdEnded() { recordEvent("hold ended"); }

signals:
    void displayChanged();

private:
    void showLegends(bool ack, bool cr, bool space);
    // The receive mode of Hyouji, decoding after `command`.
    void showReceived(const std::string& text, const std::string& command);
    // Appends what arrived to the receive buffer and shows it, decoded after `command`.
    void received(std::string arrived, const std::string& command);
    // What has arrived and not been handed over belongs to the exchange before now.
    void takeArrivals();
    void recordTraffic(TrafficLine::Direction direction, std::string text,
                       const std::string& bytes);
    void recordEvent(std::string what) {
        recordTraffic(TrafficLine::Direction::Event, std::move(what), {});
    }

    SerialPort& serial_;
    Clock& clock_;
    TrafficRecord* record_ = nullptr;
    std::function<void(const TrafficLine&)> tap_;
    std::string portName_;
    std::unique_ptr<Timer> timer2_;
    std::unique_ptr<Timer> timer4_;
    Display display_;
    std::string receiveBuffer_;
    // The echo of the receive buffer, grown with it: each character's echo is its own, so a
    // flood's arrival is rendered once, not the whole buffer again with it.
    Echo receiveEcho_;
    std::uint8_t replyPending_ = 0;
    // The command text of the last send: the decoder of what arrives before the next.
    std::string sentCommand_;
};

} // namespace trv
