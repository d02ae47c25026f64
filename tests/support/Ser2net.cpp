#include "support/Ser2net.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace trv::testing {
namespace {

QString program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net"}) {
        if (QFile::exists(QString::fromLatin1(path)))
            return QString::fromLatin1(path);
    }
    return {};
}

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

Ser2net::~Ser2net() {
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        process_.waitForFinished(5000);
    }
}

bool Ser2net::available() {
    return !program().isEmpty() && QFile::exists(QStringLiteral("/dev/ptmx"));
}

bool Ser2net::start(const QString& folder, const QString& device, const QString& accepter) {
    if (!available())
        return false;
    port_ = freePort();
    QFile config(folder + QStringLiteral("/ser2net.yaml"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(QStringLiteral("%YAML 1.1\n---\nconnection: &trv\n"
                                "  accepter: %1tcp,127.0.0.1,%2\n"
                                "  connector: serialdev,%3,9600n81,local\n"
                                "  options:\n    kickolduser: true\n")
                     .arg(accepter)
                     .arg(port_)
                     .arg(device)
                     .toUtf8());
    config.close();
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(program(), {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                               config.fileName(), QStringLiteral("-P"),
                               folder + QStringLiteral("/ser2net.pid")});
    const auto listening = [this] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port_);
        return probe.waitForConnected(200);
    };
    return process_.waitForStarted(5000) && QTest::qWaitFor(listening, 5000);
}

} // namespace trv::testing
