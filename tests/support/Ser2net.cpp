#include "support/Ser2net.h"

#include "support/LoopbackServer.h"
#include <QFile>
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
    return start(folder, device, QStringList{accepter});
}

bool Ser2net::start(const QString& folder, const QString& device, const QStringList& accepters,
                    const QString& authDir) {
    if (!available())
        return false;
    QFile config(folder + QStringLiteral("/ser2net.yaml"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write("%YAML 1.1\n---\n");
    ports_.clear();
    for (const QString& accepter : accepters) {
        ports_ << LoopbackServer::freePort();
        config.write(QStringLiteral("connection: &trv%1\n"
                                    "  accepter: %2tcp,127.0.0.1,%3\n"
                                    "  connector: serialdev,%4,9600n81,local\n"
                                    "  options:\n    kickolduser: true\n")
                         .arg(ports_.size())
                         .arg(accepter)
                         .arg(ports_.last())
                         .arg(device)
                         .toUtf8());
        if (!authDir.isEmpty())
            config.write(QStringLiteral("    authdir: %1\n").arg(authDir).toUtf8());
    }
    config.close();
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(program(), {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"),
                               config.fileName(), QStringLiteral("-P"),
                               folder + QStringLiteral("/ser2net.pid")});
    const auto listening = [this] {
        for (const quint16 port : ports_) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (!probe.waitForConnected(200))
                return false;
        }
        return true;
    };
    return process_.waitForStarted(5000) && QTest::qWaitFor(listening, 5000);
}

} // namespace trv::testing
