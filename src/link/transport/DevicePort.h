#pragma once

#include "link/transport/LineDevice.h"
#include "link/transport/PortMap.h"
#include "link/transport/SerialPort.h"

#include <QTimer>
#include <optional>

namespace trv {

// COM n wherever its line ends (a local device, a raw TCP or an RFC 2217 device server, as the
// port map says when the port opens), read and written through one device. A flood's arrivals
// are gathered, so the program wakes twice a window instead of once a character: the first
// arrival after a quiet window is reported at once, what keeps coming is held in the device and
// reported at the window's end. A line that goes away is closed once and reported as
// linkLost, after every byte read before it has been reported.
class DevicePort final : public SerialPort {
    Q_OBJECT
public:
    static constexpr int kWindowMs = 50;
    // What may wait to be written before the line counts as lost: a server that never reads
    // would otherwise grow the queue for ever.
    static constexpr qint64 kWriteLimit = 64 * 1024;

    explicit DevicePort(PortMap map = PortMap(), QObject* parent = nullptr);
    ~DevicePort() override;

    void setPortNumber(int portNo) override;
    // Opens this target instead of what COM n leads to.
    void setTarget(const PortTarget& target) { explicit_ = target; }
    // Checks a server behind TLS this way instead of as the target says, from the next open.
    void setTls(const TlsSettings& tls) { tls_ = tls; }
    void setSettings(const LineSettings& settings) override;
    OpenResult open() override;
    void close() override;
    bool isOpen() const override { return line_ != nullptr; }
    bool write(const std::string& bytes) override;
    std::string readAll() override;
    // Bytes waiting to be written.
    qint64 writeQueue() const;

private:
    void readyRead();
    void windowEnded();
    void startWindow();
    // Reports an arrival, then holds reading back for the rest of the window.
    void deliver();
    void holdBack();
    // Lets the device read from the line again.
    void releaseHold();
    // Lifts the hold on reading and takes what the line has; false when that lost the line.
    bool takeFromLine();
    bool checkWriteQueue();
    void lost(const QString& reason);
    // "COM9 (/dev/ttyS8): no such device": the port as the user named it, what it opens when
    // that differs, and the line's reason.
    QString named(const PortTarget& target, const QString& reason) const;

    PortMap map_;
    int portNo_ = 1;
    std::optional<PortTarget> explicit_;
    std::optional<TlsSettings> tls_;
    LineSettings settings_;
    LineDevice* line_ = nullptr;
    QTimer window_;
    bool gathering_ = false; // a window is running
    bool heldBack_ = false;  // the device reads no further until the window ends
    bool fetching_ = false;
    bool delivering_ = false;
    bool losing_ = false; // the line is gone; what it read is being handed over
};

} // namespace trv
