// trv-bridge as a fleet's monitoring point: GET /metrics, the cost of the bridge's own poll, the
// delay from a change on the line to its notification datagram, and 200 PJLink pollers beside a
// scrape every second.
#include "Benchmarks.h"
#include "BridgeProcess.h"
#include "Harness.h"
#include "HttpClient.h"
#include "PjlinkClient.h"
#include "StampedDevice.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace bench {
namespace {

// GET /metrics back to back from one kept-alive client, after one poll has read the values.
void metricsScrape(int count) {
    StampedDevice device;
    BridgeProcess bridge;
    if (const char* why = bridge.startInFrontOf(device.path(), {.poll = 3600})) {
        row("fleet: GET /metrics", why, "");
        return;
    }
    HttpClient client(bridge.httpPort);
    for (int i = 0; i < 50 && device.count() < 4; ++i)
        spin(20);
    for (int i = 0; i < 20; ++i)
        client.request("GET", "/metrics");
    const std::size_t before = device.count();
    std::vector<double> trips;
    std::size_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        const HttpClient::Reply reply = client.request("GET", "/metrics");
        if (reply.status != 200)
            break;
        trips.push_back(msSince(t0));
        bytes = std::size_t(reply.body.size());
    }
    char extra[96];
    std::snprintf(extra, sizeof extra, " (%zu scrapes of %zu bytes, %zu exchanges meanwhile)",
                  trips.size(), bytes, device.count() - before);
    percentilesRow("fleet: GET /metrics, 50th / 99th", trips, "99th <= 2 ms, no exchange", extra);
    bridge.reportLog();
}

// The bridge polling every second at the line's pace: the line time of a round, from the first
// read's carriage return at the device to the last reply's end, and CPU per round beyond a
// bridge that does not poll.
void pollCost(int seconds) {
    double idleCpuMs = 0;
    {
        StampedDevice device;
        BridgeProcess quiet;
        if (const char* why = quiet.startInFrontOf(device.path(), {.poll = 0})) {
            row("fleet: the poll's cost", why, "");
            return;
        }
        const double before = quiet.cpuMs();
        spin(seconds * 1000);
        idleCpuMs = quiet.cpuMs() - before;
    }
    StampedDevice device;
    device.setPaced(true);
    BridgeProcess bridge;
    if (const char* why = bridge.startInFrontOf(device.path(), {.poll = 1})) {
        row("fleet: the poll's cost", why, "");
        return;
    }
    spin(1500);
    const std::size_t from = device.count();
    const double before = bridge.cpuMs();
    spin(seconds * 1000);
    const double cpuMs = bridge.cpuMs() - before - idleCpuMs;
    const std::vector<StampedDevice::Exchange> all = device.exchanges();
    std::vector<double> spans;
    for (std::size_t i = from; i + 3 < all.size(); ++i) {
        if (all[i].command != "CR0" || all[i + 3].command != "CR6")
            continue;
        spans.push_back(msBetween(all[i].arrived, all[i + 3].finished));
        i += 3;
    }
    char figure[128];
    std::snprintf(figure, sizeof figure, "%.1f / %.1f ms (%zu rounds)", percentile(spans, 50),
                  percentile(spans, 99), spans.size());
    row("fleet: a poll round's line time, 50th / 99th", figure, "");
    std::snprintf(figure, sizeof figure, "%.2f ms (%.0f ms beyond idle in %d s)",
                  spans.empty() ? 0.0 : cpuMs / double(spans.size()), cpuMs, seconds);
    row("  trv-bridge CPU per round", figure, "");
    bridge.reportLog();
}

// An input switch through the API, alternately INPUT 1 and INPUT 2: from the device's
// acknowledgement to the notification datagram at a listener here.
void notifyDelay(int count) {
    QUdpSocket listener;
    if (!listener.bind(QHostAddress::LocalHost, 0)) {
        row("fleet: change to notification", "no UDP socket", "");
        return;
    }
    StampedDevice device;
    BridgeProcess bridge;
    const QString to = QStringLiteral("127.0.0.1:%1").arg(listener.localPort());
    if (const char* why =
            bridge.startInFrontOf(device.path(), {.poll = 0, .extra = {"--notify", to}})) {
        row("fleet: change to notification", why, "");
        return;
    }
    HttpClient client(bridge.httpPort);
    spin(200);
    while (listener.hasPendingDatagrams())
        listener.receiveDatagram(); // LKUP and the like
    std::vector<double> delays;
    int missing = 0;
    for (int i = 0; i < count; ++i) {
        const char* command = i % 2 ? "C06" : "C05";
        const std::size_t before = device.count();
        client.request("POST", "/api/send", QByteArray(R"({"command":")") + command + "\"}");
        const auto exchange = device.waitFor(command, before, 1000);
        QByteArray got;
        Clock::time_point at;
        for (int k = 0; k < 200 && !got.startsWith("%2INPT="); ++k) {
            if (!listener.hasPendingDatagrams() && !listener.waitForReadyRead(5))
                continue;
            got = listener.receiveDatagram().data();
            at = Clock::now();
        }
        if (!exchange || !got.startsWith("%2INPT=")) {
            ++missing;
            continue;
        }
        delays.push_back(msBetween(exchange->finished, at));
    }
    char extra[48];
    std::snprintf(extra, sizeof extra, " (%zu, %d without)", delays.size(), missing);
    percentilesRow("fleet: reply on the line to INPT datagram", delays, "99th <= 5 ms", extra);
    bridge.reportLog();
}

// 200 PJLink pollers, each connecting once a second for "%2FREZ ?" and "%1POWR ?" and closing
// again, as control systems poll, with a scrape of /metrics every second beside them.
void pollersAndScrapes(int seconds) {
    constexpr int kPollers = 200;
    constexpr int kThreads = 4;
    StampedDevice device;
    BridgeProcess bridge;
    if (const char* why = bridge.startInFrontOf(device.path(), {.poll = 60})) {
        row("fleet: 200 pollers and scrapes", why, "");
        return;
    }
    spin(500);
    const long residentBefore = bridge.memoryKiB("VmRSS:");
    const double cpuBefore = bridge.cpuMs();
    const auto start = Clock::now();
    std::atomic<int> asked{0}, failed{0}, scrapes{0}, badScrapes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < seconds; ++k) {
                for (int i = t; i < kPollers; i += kThreads) {
                    std::this_thread::sleep_until(
                        start + std::chrono::seconds(k) +
                        std::chrono::microseconds(i * 1'000'000 / kPollers));
                    PjlinkClient client(bridge.port, 2 + i);
                    const bool ok = client.ready() &&
                                    client.ask("%2FREZ ?\r").rfind("%2FREZ=", 0) == 0 &&
                                    client.ask("%1POWR ?\r").rfind("%1POWR=", 0) == 0;
                    ++asked;
                    if (!ok)
                        ++failed;
                }
            }
        });
    }
    threads.emplace_back([&] {
        HttpClient scraper(bridge.httpPort, 250);
        for (int k = 0; k < seconds; ++k) {
            std::this_thread::sleep_until(start + std::chrono::seconds(k));
            ++scrapes;
            if (scraper.request("GET", "/metrics").status != 200)
                ++badScrapes;
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    const double wallMs = msSince(start);
    const double cpuMs = bridge.cpuMs() - cpuBefore;
    char figure[128];
    std::snprintf(figure, sizeof figure, "%d pollings (%d failed), %d scrapes (%d failed)",
                  asked.load(), failed.load(), scrapes.load(), badScrapes.load());
    row("fleet: 200 pollers a second, a scrape a second", figure, "");
    std::snprintf(figure, sizeof figure, "%.2f %% of a core (%.0f ms in %.0f s)",
                  100 * cpuMs / wallMs, cpuMs, wallMs / 1000);
    row("  trv-bridge CPU (utime + stime)", figure, "");
    std::snprintf(figure, sizeof figure, "%.1f MiB (peak %.1f, before %.1f)",
                  double(bridge.memoryKiB("VmRSS:")) / 1024,
                  double(bridge.memoryKiB("VmHWM:")) / 1024, double(residentBefore) / 1024);
    row("  trv-bridge resident memory at the end", figure, "");
    bridge.reportLog();
}

} // namespace

void fleetBench(bool quick) {
    metricsScrape(quick ? 500 : 5000);
    pollCost(quick ? 5 : 30);
    notifyDelay(quick ? 50 : 500);
    pollersAndScrapes(quick ? 5 : 30);
}

} // namespace bench
