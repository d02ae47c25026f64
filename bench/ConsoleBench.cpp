// Creating the command list console with its entries and showing it.
#include "Benchmarks.h"
#include "Harness.h"

#include "link/ProjectorLink.h"
#include "windows/console/Form3.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace bench {

void consoleBench() {
    NullSerial serial;
    trv::QtClock clock;
    trv::ProjectorLink link(serial, clock);
    QWidget main;
    std::vector<double> samples;
    double first = 0;
    for (int run = 0; run < 15; ++run) {
        QElapsedTimer t;
        t.start();
        auto* console = new trv::Form3(link, &main);
        console->show();
        QCoreApplication::processEvents();
        samples.push_back(double(t.nsecsElapsed()) / 1e6);
        if (run == 0)
            first = samples.back();
        delete console;
    }
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.1f ms (first %.1f ms)", percentile(samples, 50), first);
    row("console opening (window and 786 entries)", figure, "<= 30 ms");
}

} // namespace bench
