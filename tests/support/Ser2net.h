#pragma once

#include <QProcess>
#include <QString>

namespace trv::testing {

// ser2net on the loopback in front of one device, as a real serial device server for the tests.
class Ser2net {
public:
    ~Ser2net();

    // Whether ser2net and pseudo-terminals are on this machine.
    static bool available();
    // Starts it with its files in `folder` and one accepter on a free port in front of `device`:
    // `accepter` is "" for raw TCP or "telnet(rfc2217)," for RFC 2217. False when it does not
    // come to listen.
    bool start(const QString& folder, const QString& device, const QString& accepter);
    quint16 port() const { return port_; }
    QProcess& process() { return process_; }

private:
    QProcess process_;
    quint16 port_ = 0;
};

} // namespace trv::testing
