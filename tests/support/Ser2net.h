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
    // As above with one accepter for each of `accepters`, each on a port of its own (port(i)),
    // e.g. "ssl(key=K,cert=C)," for TLS, "ssl(key=K,cert=C,clientauth)," to demand a client
    // certificate chaining to one in `authDir`/NAME/allowed_certs, NAME its common name.
    bool start(const QString& folder, const QString& device, const QStringList& accepters,
               const QString& authDir = {});
    quint16 port(int i = 0) const { return ports_.value(i); }
    QProcess& process() { return process_; }

private:
    QProcess process_;
    QList<quint16> ports_;
};

} // namespace trv::testing
