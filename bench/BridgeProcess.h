#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

namespace bench {

// The line speed of the simulator and of the daemon, which paces every reply on the wire.
constexpr int kBaud = 19200;

// trv-bridge as its own process in a temporary directory, in front of trv-sim on a
// pseudo-terminal or of any device given; both are stopped with the object.
struct BridgeProcess {
    struct Options {
        std::optional<int> cacheMs = {}; // none: the daemon's own default
        QString line = {};               // --port; empty: the simulator's device
        bool http = false;               // --http-listen 127.0.0.1:0 beside PJLink
        int poll = 0;                    // --poll: none unless a part measures it
        QStringList extra = {};          // further options
    };

    QTemporaryDir dir;
    QProcess sim;
    QProcess daemon;
    QByteArray simOutput; // what trv-sim printed: its device, then with --trace each command
    QString link = dir.path() + QStringLiteral("/projector");
    quint16 port = 0;    // PJLink's, from the daemon's line "pjlink 127.0.0.1:PORT"
    quint16 udpPort = 0; // from "pjlink-udp 127.0.0.1:PORT", when it serves UDP
    QString httpUrl;     // from its line "http http://127.0.0.1:PORT/"
    quint16 httpPort = 0;

    static QString bin(const char* name);

    bool startSim(bool trace);
    bool startDaemon(const Options& options);
    // The daemon with HTTP beside PJLink in front of `device` (`options` say the rest), its line
    // up; why not, when it did not start or its line did not come up.
    const char* startInFrontOf(const QByteArray& device, Options options);
    const QByteArray& readSim();
    // Status reads the simulator has received so far.
    int lineReads();
    // /proc/PID/status in kiB: VmRSS or VmHWM.
    long memoryKiB(const char* key) const;
    // utime + stime from /proc/PID/stat, in milliseconds.
    double cpuMs() const;
    // What the daemon logged beyond starting, opening the line and clients coming and going.
    void reportLog() const;

    BridgeProcess() = default;
    BridgeProcess(const BridgeProcess&) = delete;
    BridgeProcess& operator=(const BridgeProcess&) = delete;
    ~BridgeProcess();
};

} // namespace bench
