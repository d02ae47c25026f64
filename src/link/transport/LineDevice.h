#pragma once

#include "link/transport/LineSettings.h"
#include "link/transport/SerialPort.h"

#include <QIODevice>
#include <QObject>

namespace trv {

// One kind of line end behind a port: a serial device, a TCP connection or a Telnet session.
// The port reads and writes `io()`; what differs by kind (opening, settings, reading limits and
// how the line is lost) is here.
class LineDevice : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QIODevice& io() = 0;
    // Opens and configures the line; may wait for a connection, a bounded time.
    virtual SerialPort::OpenResult open(const LineSettings& settings) = 0;
    virtual void apply(const LineSettings& settings) = 0;
    // Stops taking bytes from the line once `bytes` are held unread; 0 takes everything.
    virtual void setReadLimit(qint64 bytes) = 0;
    // Takes what the line holds right now, without waiting; a quiet line is no error.
    virtual void fetch() = 0;
    // Hands what was written to the line now.
    virtual void flush() = 0;
    virtual void close() = 0;

protected:
    // Whether the descriptor has something to read (or a hang-up to tell) right now: waiting
    // on a quiet line is reported as an error by Qt's devices, so only a ready one is asked.
    static bool readyToRead(qintptr descriptor);

signals:
    // The line went away while open; what was read before stays readable until close().
    void lost(const QString& reason);
};

} // namespace trv
