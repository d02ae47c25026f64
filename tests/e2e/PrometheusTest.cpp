// trv-bridge as a monitoring system meets it: Debian's prometheus, started here with the
// shipped scrape configuration and alert rules, scrapes a bridge in front of trv-sim, and
// prometheus-alertmanager delivers the lamp fault to a webhook written here.
#include "support/LoopbackServer.h"
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace trv {
namespace {

// One HTTP request on a connection of its own; the reply's body, or nothing.
std::optional<QByteArray> httpGet(quint16 port, const QByteArray& target,
                                  const QByteArray& headers = {}) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return std::nullopt;
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                 "\r\nConnection: close\r\n" + headers + "\r\n");
    QByteArray got;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(5000))
        got += socket.readAll();
    got += socket.readAll();
    const qsizetype end = got.indexOf("\r\n\r\n");
    if (!got.startsWith("HTTP/1.1 200") || end < 0)
        return std::nullopt;
    return got.mid(end + 4);
}

// Takes the webhook's POSTs and keeps their bodies.
class Webhook : public QObject {
public:
    Webhook() {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const QByteArray head = buffer->left(end).toLower();
                    const qsizetype at = head.indexOf("content-length:");
                    const qsizetype length =
                        at < 0 ? 0
                               : head.mid(at + 15, head.indexOf('\n', at) - at - 15)
                                     .trimmed()
                                     .toLongLong();
                    if (buffer->size() < end + 4 + length)
                        return;
                    bodies.push_back(buffer->mid(end + 4, length));
                    buffer->clear();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }
    std::vector<QByteArray> bodies;

private:
    QTcpServer server_;
};

class Prometheus : public ::testing::Test {
protected:
    void TearDown() override {
        for (QProcess* process : {&prometheus_, &alertmanager_, &bridge_, &sim_}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(5000))
                    process->kill();
            }
        }
    }
    QString path(const char* name) const { return dir_.filePath(QLatin1String(name)); }
    static bool write(const QString& file, const QByteArray& text) {
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(text) == text.size();
    }
    static QByteArray read(const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    // The value of an instant query's single sample, or nothing yet.
    std::optional<double> query(const QByteArray& expression) const {
        const auto body =
            httpGet(prometheusPort_, "/api/v1/query?query=" + QUrl::toPercentEncoding(expression));
        if (!body)
            return std::nullopt;
        const QJsonArray result =
            QJsonDocument::fromJson(*body).object()["data"].toObject()["result"].toArray();
        if (result.size() != 1)
            return std::nullopt;
        return result[0].toObject()["value"].toArray()[1].toString().toDouble();
    }

    QTemporaryDir dir_;
    QProcess sim_, bridge_, prometheus_, alertmanager_;
    quint16 bridgePort_ = 0, prometheusPort_ = 0;
};

TEST_F(Prometheus, ScrapesTheBridgeWithTheShippedConfigurationAndDeliversTheLampAlert) {
    const QString prometheusProgram = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
    const QString alertmanagerProgram =
        QStandardPaths::findExecutable(QStringLiteral("prometheus-alertmanager"));
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (prometheusProgram.isEmpty() || alertmanagerProgram.isEmpty() || promtool.isEmpty())
        GTEST_SKIP() << "prometheus, prometheus-alertmanager or promtool is not installed";

    // The projector with a failed lamp, and its bridge polling every second.
    const QString link = path("projector");
    sim_.start(QStringLiteral(TRV_SIM_PATH),
               {"--link", link, "--fault", "lamp", "--lamp-hours", "2345"});
    ASSERT_TRUE(sim_.waitForStarted(5000) &&
                QTest::qWaitFor([&] { return sim_.canReadLine(); }, 5000));
    ASSERT_TRUE(write(path("trv-bridge.token"), "fleet-secret\n"));
    QFile::setPermissions(path("trv-bridge.token"), QFile::ReadOwner | QFile::WriteOwner);
    bridge_.start(QStringLiteral(TRV_BRIDGE_PATH),
                  {"--port", link, "--pjlink-listen", "none", "--http-listen", "127.0.0.1:0",
                   "--http-password-file", path("trv-bridge.token"), "--poll", "1"});
    ASSERT_TRUE(bridge_.waitForStarted(15000) &&
                QTest::qWaitFor([&] { return bridge_.canReadLine(); }, 15000));
    const QByteArray start = bridge_.readLine(); // "http http://127.0.0.1:PORT/"
    bridgePort_ = quint16(QUrl(QString::fromLatin1(start.mid(5).trimmed())).port());
    ASSERT_NE(bridgePort_, 0) << start.toStdString();

    // What the bridge serves passes Prometheus' own check of the format.
    std::optional<QByteArray> metrics;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            metrics = httpGet(bridgePort_, "/metrics", "Authorization: Bearer fleet-secret\r\n");
            return metrics && metrics->contains("\ntrv_temperature_celsius{");
        },
        10000));
    QProcess check;
    check.start(promtool, {"check", "metrics"});
    ASSERT_TRUE(check.waitForStarted(5000));
    check.write(*metrics);
    check.closeWriteChannel();
    ASSERT_TRUE(check.waitForFinished(10000));
    EXPECT_EQ(check.exitCode(), 0);
    EXPECT_EQ(check.readAll().toStdString(), "");

    // Alertmanager with one route, to the webhook here.
    Webhook webhook;
    const quint16 alertmanagerPort = testing::LoopbackServer::freePort();
    ASSERT_TRUE(write(path("alertmanager.yml"),
                      "route:\n  receiver: test\n  group_wait: 1s\n  group_interval: 1s\n"
                      "receivers:\n  - name: test\n    webhook_configs:\n"
                      "      - url: http://127.0.0.1:" +
                          QByteArray::number(webhook.port()) + "/\n"));
    alertmanager_.start(alertmanagerProgram,
                        {"--config.file=" + path("alertmanager.yml"),
                         "--storage.path=" + path("alertmanager"),
                         "--web.listen-address=127.0.0.1:" + QString::number(alertmanagerPort),
                         "--cluster.listen-address="});
    ASSERT_TRUE(alertmanager_.waitForStarted(5000));

    // Prometheus with the shipped files; the targets file names this bridge, and the intervals
    // are a second so that the test need not wait half a minute.
    const QDir examples(QStringLiteral(TRV_SOURCE_DIR "/packaging/prometheus"));
    QByteArray configuration = read(examples.filePath(QStringLiteral("prometheus.yml")));
    ASSERT_TRUE(configuration.contains("scrape_interval: 30s") &&
                configuration.contains("127.0.0.1:9093"));
    configuration.replace("_interval: 30s", "_interval: 1s");
    configuration.replace("127.0.0.1:9093", "127.0.0.1:" + QByteArray::number(alertmanagerPort));
    ASSERT_TRUE(write(path("prometheus.yml"), configuration));
    ASSERT_TRUE(QFile::copy(examples.filePath(QStringLiteral("trv-bridge.rules.yml")),
                            path("trv-bridge.rules.yml")));
    ASSERT_TRUE(write(path("trv-bridges.yml"),
                      "- targets: [\"127.0.0.1:" + QByteArray::number(bridgePort_) +
                          "\"]\n  labels:\n    building: test\n"));
    prometheusPort_ = testing::LoopbackServer::freePort();
    prometheus_.setProcessChannelMode(QProcess::MergedChannels);
    prometheus_.start(prometheusProgram,
                      {"--config.file=" + path("prometheus.yml"),
                       "--storage.tsdb.path=" + path("prometheus"),
                       "--web.listen-address=127.0.0.1:" + QString::number(prometheusPort_)});
    ASSERT_TRUE(prometheus_.waitForStarted(5000));

    std::optional<double> lamp, temperatures;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            lamp = query("trv_lamp_use_seconds{building=\"test\"}");
            temperatures = query("count(trv_temperature_celsius)");
            return lamp && temperatures;
        },
        30000))
        << prometheus_.readAll().right(2000).toStdString();
    EXPECT_EQ(lamp, 2345.0 * 3600);
    EXPECT_EQ(temperatures, 3.0);

    // The lamp fault, from the status read through the rules to the webhook.
    const auto delivered = [&] {
        for (const QByteArray& body : webhook.bodies) {
            const QJsonArray alerts = QJsonDocument::fromJson(body).object()["alerts"].toArray();
            for (const QJsonValue& alert : alerts) {
                const QJsonObject labels = alert.toObject()["labels"].toObject();
                if (labels["alertname"] == QLatin1String("TrvProjectorFault") &&
                    labels["state"] == QLatin1String("lamp-fault") &&
                    alert.toObject()["status"] == QLatin1String("firing"))
                    return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor(delivered, 60000))
        << webhook.bodies.size() << " deliveries; "
        << alertmanager_.readAllStandardError().right(2000).toStdString();
    // Nothing else was wrong: the only alert is the fault.
    for (const QByteArray& body : webhook.bodies)
        EXPECT_FALSE(body.contains("TrvLineDown") || body.contains("TrvLampNearEnd"))
            << body.toStdString();
}

} // namespace
} // namespace trv
