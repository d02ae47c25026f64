// The program started in child processes up to its first window on screen.
#include "Benchmarks.h"
#include "Harness.h"

#include <QApplication>
#include <QProcess>
#include <QWindow>
#include <cstdio>

namespace bench {

// The child of the cold start: the program's own start-up, up to its first window on screen.
int coldStartChild(int argc, char** argv) {
    QApplication app(argc, argv);
    Program program;
    while (program.form.windowHandle() == nullptr || !program.form.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    std::printf("%lld %ld\n", static_cast<long long>(monotonicNs()), residentKiB());
    return 0;
}

void startBench(const char* self) {
    Pty pty; // the stored port, so the load opens it and shows the panel
    std::vector<double> startMs;
    std::vector<double> residentMb;
    for (int run = 0; run < 11; ++run) {
        QProcess child;
        const std::int64_t t0 = monotonicNs();
        child.start(QString::fromLocal8Bit(self), {QStringLiteral("--cold-start-child")});
        if (!child.waitForFinished(20000))
            continue;
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        if (fields.size() != 2)
            continue;
        startMs.push_back(double(fields[0].toLongLong() - t0) / 1e6);
        residentMb.push_back(fields[1].toDouble() / 1024.0);
    }
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.0f ms (median of %zu)", percentile(startMs, 50),
                  startMs.size());
    row("cold start to the first window shown", figure, "<= 250 ms");
    std::snprintf(figure, sizeof figure, "%.1f MB", percentile(residentMb, 50));
    row("resident memory with the first window shown", figure, "<= 40 MB");
}

} // namespace bench
