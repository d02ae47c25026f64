// trv-ctl read status against trv-sim: the whole process, start to exit, beside the reply's
// own time on the wire as trv-ctl reports it.
#include "Benchmarks.h"
#include "Harness.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace bench {

void ctlBench() {
    const QString bin = QCoreApplication::applicationDirPath();
    QTemporaryDir dir;
    const QString link = dir.path() + QStringLiteral("/projector");
    QProcess sim;
    sim.start(bin + QStringLiteral("/trv-sim"), {QStringLiteral("--link"), link});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        row("trv-ctl read status, start to exit", "trv-sim unavailable", "");
        return;
    }
    std::vector<double> total, reply, own;
    for (int run = 0; run < 20; ++run) {
        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        ctl.setProcessEnvironment(env);
        const auto t0 = Clock::now();
        ctl.start(bin + QStringLiteral("/trv-ctl"),
                  {QStringLiteral("--port"), link, QStringLiteral("--json"), QStringLiteral("read"),
                   QStringLiteral("status")});
        if (!ctl.waitForFinished(10000) || ctl.exitCode() != 0)
            continue;
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        const double replyMs =
            QJsonDocument::fromJson(ctl.readAllStandardOutput())[QStringLiteral("replyMs")]
                .toDouble();
        total.push_back(ms);
        reply.push_back(replyMs);
        own.push_back(ms - replyMs);
    }
    sim.terminate();
    sim.waitForFinished(5000);
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.1f ms (median of %zu)", percentile(total, 50),
                  total.size());
    row("trv-ctl read status, start to exit", figure, "");
    std::snprintf(figure, sizeof figure, "%.1f ms", percentile(reply, 50));
    row("  of which the reply on the wire (9600 baud)", figure, "");
    std::snprintf(figure, sizeof figure, "%.1f ms (99th %.1f ms)", percentile(own, 50),
                  percentile(own, 99));
    row("  the program's own share: start, open, exit", figure, "< 50 ms");
}

} // namespace bench
