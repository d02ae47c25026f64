// STATUS clicks to the carriage return read at the far end of the pseudo-terminal, directly
// and with ser2net (raw TCP on 127.0.0.1) between the panel and the device.
#include "Benchmarks.h"
#include "Harness.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace bench {
namespace {

// ser2net on the loopback in front of `device`, raw TCP; stopped with the object.
struct DeviceServer {
    QProcess process;
    QTemporaryDir dir;
    quint16 port = 0;
    bool start(const QByteArray& device) {
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            port = probe.serverPort();
        }
        QFile config(dir.path() + QStringLiteral("/ser2net.yaml"));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("%YAML 1.1\n---\nconnection: &bench\n  accepter: tcp,127.0.0.1," +
                     QByteArray::number(port) + "\n  connector: serialdev," + device +
                     ",19200n81,local\n");
        config.close();
        process.start(
            QFile::exists(QStringLiteral("/usr/sbin/ser2net")) ? QStringLiteral("/usr/sbin/ser2net")
                                                               : QStringLiteral("ser2net"),
            {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config.fileName(),
             QStringLiteral("-P"), dir.path() + QStringLiteral("/pid")});
        if (!process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 50; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (socket.waitForConnected(100))
                return true;
            spin(50);
        }
        return false;
    }
    ~DeviceServer() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// Click to the carriage return read at the far end of the pseudo-terminal, directly or with
// ser2net between the panel and the device.
void clickToWrite(bool throughServer) {
    Pty pty;
    // The far end keeps a raw device open, as the simulator does, so the line settles.
    const int device = openRawDevice();
    DeviceServer server;
    QString com9;
    if (throughServer) {
        if (!server.start(qgetenv("ZEKO_COM9"))) {
            row("click to simulator through ser2net", "ser2net unavailable", "");
            ::close(device);
            return;
        }
        com9 = QStringLiteral("tcp://127.0.0.1:%1").arg(server.port);
        qunsetenv("ZEKO_COM9");
    }
    Program program(com9);
    QPushButton* status = program.button("Command44");
    std::vector<double> samples;
    for (int i = 0; i < 300; ++i) {
        const auto t0 = Clock::now();
        QTest::mouseClick(status, Qt::LeftButton);
        QCoreApplication::processEvents();
        char buffer[64];
        for (;;) {
            pollfd fd{pty.master, POLLIN, 0};
            if (poll(&fd, 1, 1000) <= 0)
                break;
            const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            if (n > 0 && std::memchr(buffer, '\r', std::size_t(n)) != nullptr)
                break;
        }
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        spin(2);
    }
    ::close(device);
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.3f ms / %.3f ms", percentile(samples, 50),
                  percentile(samples, 99));
    row(throughServer ? "click to line via ser2net (TCP): 50th / 99th"
                      : "click to write on the line: 50th / 99th pct",
        figure, throughServer ? "99th <= direct + 2 ms" : "99th <= 1 ms");
}

} // namespace

void clickBench() {
    clickToWrite(false);
    clickToWrite(true);
}

} // namespace bench
