#pragma once

#include "bridge/pjlink/PjlinkInputNames.h"
#include "bridge/pjlink/NotifyTarget.h"
#include "bridge/pjlink/PjlinkMapping.h"
#include "link/transport/TlsSettings.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <optional>

namespace trv::bridge {

// trv-bridge's settings, from its command line and its configuration file, checked: anything
// here is safe to act on. The command line wins over the file.
struct BridgeOptions {
    QString configFile; // --config
    QString port;       // --port: COMn, a device path or a network address
    QString profile;    // --profile: whose port map COMn goes through; empty: the default
    int baud = 0;       // --baud: 9600 or 19200; 0: as stored for a COMn, else 19200
    QString address;    // --address as a unit address ("", "AFFF", "A001".."A004")
    // Where a front end listens; "none" turns it off.
    struct Listen {
        bool on = true;
        QHostAddress host;
        quint16 port = 0;
        QString text; // as given, for the log
    };
    Listen pjlinkListen{true, QHostAddress(QHostAddress::AnyIPv4), 4352,
                        QStringLiteral("0.0.0.0:4352")};
    // The web panel and HTTP API; off unless asked for.
    Listen httpListen{false, QHostAddress(), 0, QStringLiteral("none")};
    QString name = QStringLiteral("TRV-M5400");
    QString passwordFile;
    // The web panel's own password, apart from PJLink's: without one only loopback is allowed.
    QString httpPasswordFile;
    QString httpCert, httpKey; // PEM: HTTPS instead of HTTP, both or neither
    QStringList httpHosts;     // further Host names the web panel answers to
    pjlink::InputMap inputs;
    // PJLink Class 2: INNM's names, and SNUM, SVER, RLMP, RFIL (empty: answered empty).
    pjlink::PjlinkInputNames inputNames;
    QString serial, softwareVersion, lampModel, filterModel;
    int cacheMs = 1000;
    int pollS = 60;         // the bridge's own reads of the values; 0: none
    int maxPerAddress = 16; // connections from one address (an IPv6 /64)
    // PJLink over UDP, on the pjlink-listen address: searches and status notifications.
    bool udp = true;
    quint16 udpPort = 4352;
    QList<pjlink::NotifyTarget> notify;
    QString mac; // "xx:xx:xx:xx:xx:xx"; empty: the network interface's
    bool verbose = false;
    bool help = false;
    bool version = false;
    // --tls-ca-file, --tls-fingerprint, --tls-cert-file, --tls-key-file: a server behind TLS
    TlsSettings tls = TlsSettings::daemon();

    // Nothing, with `error` naming the bad value, when the settings are not usable.
    static std::optional<BridgeOptions> parse(const QStringList& arguments, QString& error);
    static QString usage();
    // Reads the password file: nothing with `error` when it cannot be read; `warning` when
    // others may read it.
    std::optional<QString> readPassword(QString& error, QString& warning) const;
    // The same for http-password-file (1 to 256 bytes).
    std::optional<QString> readHttpPassword(QString& error, QString& warning) const;
    bool listensBeyondLoopback() const {
        return pjlinkListen.on && !pjlinkListen.host.isLoopback();
    }
    // "HOST:PORT" as a front end's line at start shows it, an IPv6 address in brackets.
    static QString hostPort(const QHostAddress& host, quint16 port);
    // The COM number `port` names, 1 to 15; any other text is a device or an address.
    static std::optional<int> comPort(const QString& port);
};

} // namespace trv::bridge
