#include "BridgeProcess.h"

#include "Harness.h"
#include "HttpClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace bench {

QString BridgeProcess::bin(const char* name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

bool BridgeProcess::startSim(bool trace) {
    QStringList arguments{QStringLiteral("--link"), link, QStringLiteral("--baud"),
                          QString::number(kBaud)};
    if (trace)
        arguments << QStringLiteral("--trace");
    sim.setStandardErrorFile(dir.path() + QStringLiteral("/trv-sim.log"));
    sim.start(bin("trv-sim"), arguments);
    if (!sim.waitForStarted(5000))
        return false;
    while (!readSim().contains('\n')) {
        if (!sim.waitForReadyRead(5000))
            return false;
    }
    return true;
}

bool BridgeProcess::startDaemon(const Options& options) {
    QStringList arguments{
        QStringLiteral("--port"),          options.line.isEmpty() ? link : options.line,
        QStringLiteral("--baud"),          QString::number(kBaud),
        QStringLiteral("--pjlink-listen"), QStringLiteral("127.0.0.1:0"),
        QStringLiteral("--udp-port"),      QStringLiteral("0")};
    if (options.cacheMs)
        arguments << QStringLiteral("--cache-ms") << QString::number(*options.cacheMs);
    if (options.http)
        arguments << QStringLiteral("--http-listen") << QStringLiteral("127.0.0.1:0");
    arguments << QStringLiteral("--poll") << QString::number(options.poll) << options.extra;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    daemon.setProcessEnvironment(env);
    daemon.setStandardErrorFile(dir.path() + QStringLiteral("/trv-bridge.log"));
    daemon.start(bin("trv-bridge"), arguments);
    if (!daemon.waitForStarted(5000))
        return false;
    // "pjlink 127.0.0.1:PORT", then with HTTP "http http://127.0.0.1:PORT/".
    const QByteArray pjlink = "pjlink 127.0.0.1:";
    const QByteArray http = "http http://127.0.0.1:";
    const QByteArray pjlinkUdp = "pjlink-udp 127.0.0.1:";
    while (port == 0 || (options.http && httpPort == 0)) {
        while (!daemon.canReadLine()) {
            if (!daemon.waitForReadyRead(5000))
                return false;
        }
        const QByteArray line = daemon.readLine().trimmed();
        if (line.startsWith(pjlink)) {
            port = quint16(line.mid(pjlink.size()).toUInt());
        } else if (line.startsWith(pjlinkUdp)) {
            udpPort = quint16(line.mid(pjlinkUdp.size()).toUInt());
        } else if (line.startsWith(http)) {
            httpUrl = QString::fromLatin1(line.mid(5));
            httpPort = quint16(line.mid(http.size()).split('/').value(0).toUInt());
        }
        if (line.isEmpty() || (port == 0 && !line.startsWith(http) && !line.startsWith(pjlink)))
            return false;
    }
    return true;
}

const char* BridgeProcess::startInFrontOf(const QByteArray& device, Options options) {
    options.line = QString::fromLocal8Bit(device);
    options.http = true;
    if (!startDaemon(options)) {
        reportLog();
        return "trv-bridge printed no http line";
    }
    HttpClient client(httpPort);
    for (int i = 0; i < 50; ++i) {
        const QJsonObject status =
            QJsonDocument::fromJson(client.request("GET", "/api/status").body).object();
        if (status.value(QLatin1String("line"))[QLatin1String("up")].toBool())
            return nullptr;
        spin(100);
    }
    reportLog();
    return "the line did not come up";
}

const QByteArray& BridgeProcess::readSim() {
    simOutput += sim.readAllStandardOutput();
    return simOutput;
}

int BridgeProcess::lineReads() { return int(readSim().split('\n').count("CR0")); }

long BridgeProcess::memoryKiB(const char* key) const {
    QFile file(QStringLiteral("/proc/%1/status").arg(daemon.processId()));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key)) + 1).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

double BridgeProcess::cpuMs() const {
    QFile file(QStringLiteral("/proc/%1/stat").arg(daemon.processId()));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // The fields after the name in parentheses start with the third, the state.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = double(fields[11].toLongLong() + fields[12].toLongLong());
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

void BridgeProcess::reportLog() const {
    QFile file(dir.path() + QStringLiteral("/trv-bridge.log"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty() || line.contains("listening on") || line.contains("line open") ||
            line.contains(": connected") || line.contains("closed: by the client") ||
            line.contains("ending"))
            continue;
        std::fprintf(stderr, "trv-bench: the daemon logged: %s\n", line.constData());
    }
}

BridgeProcess::~BridgeProcess() {
    if (daemon.state() != QProcess::NotRunning) {
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
    if (sim.state() != QProcess::NotRunning) {
        sim.terminate();
        sim.waitForFinished(5000);
    }
}

} // namespace bench
