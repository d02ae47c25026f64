// The hold of ZOOM's up arrow: a thread on the far end of the pseudo-terminal stamps the
// arrival of each carriage return.
#include "Benchmarks.h"
#include "Harness.h"

#include <QPushButton>
#include <QTest>
#include <cmath>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace bench {
namespace {

struct HoldFigures {
    double medianInterval;
    double deviation99;
    std::size_t sends;
    int afterRelease;
};

HoldFigures holdOnce(int holdMs) {
    Pty pty;
    Program program;

    std::vector<Clock::time_point> arrivals;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::string line;
        char buffer[256];
        while (!stop) {
            pollfd fd{pty.master, POLLIN, 0};
            if (poll(&fd, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\r')
                    arrivals.push_back(Clock::now());
            }
        }
    });
    spin(200);
    QPushButton* zoomUp = program.button("Command30");
    QTest::mousePress(zoomUp, Qt::LeftButton);
    spin(holdMs);
    QTest::mouseRelease(zoomUp, Qt::LeftButton);
    const auto released = Clock::now();
    spin(500);
    stop = true;
    reader.join();

    std::vector<double> intervals;
    std::vector<double> deviations;
    int afterRelease = 0;
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        if (arrivals[i] > released + std::chrono::milliseconds(2))
            ++afterRelease;
        if (i > 0) {
            const double ms =
                std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count();
            intervals.push_back(ms);
            deviations.push_back(std::abs(ms - 100.0));
        }
    }
    return {percentile(intervals, 50), percentile(deviations, 99), arrivals.size(), afterRelease};
}

} // namespace

// The machine is shared: the median of three holds (the sends after the release: all three).
void holdBench(int holdMs) {
    std::vector<double> medians;
    std::vector<double> deviations;
    std::size_t sends = 0;
    int afterRelease = 0;
    for (int run = 0; run < 3; ++run) {
        const HoldFigures figures = holdOnce(holdMs);
        medians.push_back(figures.medianInterval);
        deviations.push_back(figures.deviation99);
        sends = figures.sends;
        afterRelease += figures.afterRelease;
    }
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.2f ms (3 x %zu sends)", percentile(medians, 50), sends);
    row("hold cadence: median interval", figure, "100 ms");
    std::snprintf(figure, sizeof figure, "%.2f ms (runs: %.2f, %.2f, %.2f)",
                  percentile(deviations, 50), deviations[0], deviations[1], deviations[2]);
    row("hold cadence: 99th percentile deviation", figure, "<= 2 ms");
    std::snprintf(figure, sizeof figure, "%d", afterRelease);
    row("hold cadence: sends after the release", figure, "0");
}

} // namespace bench
