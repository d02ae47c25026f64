// The flood with the traffic record on (a file in a temporary folder) and off, rounds
// interleaved: the panel's thread in this process, and the lines a second the record took.
#include "Benchmarks.h"
#include "Harness.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace bench {

// The same flood with the traffic record on and off, rounds interleaved, medians.
void recordBench(int seconds) {
    for (const int piece : {1, 16}) {
        std::vector<double> with, without;
        std::vector<double> lines;
        for (int round = 0; round < 3; ++round) {
            without.push_back(floodOnce(seconds, piece).share);
            QTemporaryDir dir;
            const QString log = dir.filePath(QStringLiteral("traffic.log"));
            with.push_back(floodOnce(seconds, piece, log).share);
            QFile file(log);
            file.open(QIODevice::ReadOnly);
            lines.push_back(double(file.readAll().count('\n')) / (seconds + 1));
        }
        char what[64], figure[64];
        std::snprintf(what, sizeof what, "flood, %d-char writes, record on: panel CPU", piece);
        std::snprintf(figure, sizeof figure, "%.2f %% (%.2f x off: %.2f %%)", percentile(with, 50),
                      percentile(with, 50) / percentile(without, 50), percentile(without, 50));
        row(what, figure, "<= 2.0 x off");
        std::snprintf(what, sizeof what, "  record: lines a second, %d-char writes", piece);
        std::snprintf(figure, sizeof figure, "%.0f (one write(2) each)", percentile(lines, 50));
        row(what, figure, "");
    }
}

} // namespace bench
