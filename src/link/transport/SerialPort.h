#pragma once

#include "link/transport/LineSettings.h"

#include <QObject>
#include <QString>
#include <string>

namespace trv {

// The serial line as the program uses it: select, configure, open, close, write, read.
class SerialPort : public QObject {
    Q_OBJECT
public:
    static constexpr int kCharactersReceived = 2; // the only communication event that acts

    struct OpenResult {
        bool ok = false;
        QString reason; // the platform's reason when the open failed
    };

    using QObject::QObject;

    virtual void setPortNumber(int portNo) = 0;
    virtual void setSettings(const LineSettings& settings) = 0;
    virtual OpenResult open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Writes the whole text in one piece, one byte per character; false when refused.
    virtual bool write(const std::string& bytes) = 0;
    // Everything received and not yet read, whether or not its arrival has been reported.
    virtual std::string readAll() = 0;

signals:
    void commEvent(int code);
    // The port opened; `name` is the port as the user named it (COM3, a path, an address).
    void opened(const QString& name);
    // The program closed the port (a lost line is linkLost alone).
    void closed();
    // The device went away while open; the port has already been closed.
    void linkLost(const QString& reason);
};

} // namespace trv
