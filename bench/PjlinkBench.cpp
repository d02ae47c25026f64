// The trv-bridge process in front of trv-sim, with PJLink clients on plain sockets on the
// loopback: queries without the line, queries on the line, and 64 pollers from 64 addresses.
#include "Benchmarks.h"
#include "BridgeProcess.h"
#include "Harness.h"
#include "PjlinkClient.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace bench {
namespace {

// Round trips of `request`, `count` times, `gapMs` after each reply; a request without its
// reply ends the series.
std::vector<double> roundTrips(PjlinkClient& client, std::string_view request, int count,
                               int gapMs = 0) {
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        if (client.ask(request).empty())
            break;
        samples.push_back(msSince(t0));
        if (gapMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
    return samples;
}

// Queries answered without the line: the class, and the power with the status read cached.
void pjlinkCached(int count) {
    BridgeProcess bridge;
    if (!bridge.startSim(true) || !bridge.startDaemon({.cacheMs = 60000})) {
        row("trv-bridge: CLSS ?", "trv-sim or trv-bridge unavailable", "");
        return;
    }
    PjlinkClient client(bridge.port);
    if (!client.ready()) {
        row("trv-bridge: CLSS ?", "no greeting", "");
        return;
    }
    const std::vector<double> clss = roundTrips(client, "%1CLSS ?\r", count);
    char extra[48];
    std::snprintf(extra, sizeof extra, ", %zu replies", clss.size());
    percentilesRow("trv-bridge CLSS ? (no line): 50th / 99th", clss, "", extra);
    const std::string first = client.ask("%1POWR ?\r");
    const std::vector<double> powr = roundTrips(client, "%1POWR ?\r", count);
    spin(100);
    std::snprintf(extra, sizeof extra, ", %d line read", bridge.lineReads());
    percentilesRow("trv-bridge POWR ?, cached: 50th / 99th", powr, "", extra);
    if (first != "%1POWR=0")
        std::fprintf(stderr, "trv-bench: first POWR ? answered \"%s\"\n", first.c_str());
    bridge.reportLog();
}

// The status read straight on the simulator's device, as trv-bridge sends it.
std::vector<double> directReads(int count) {
    BridgeProcess bridge;
    if (!bridge.startSim(false))
        return {};
    const int device = openRaw(bridge.link.toLocal8Bit());
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        if (::write(device, "CR0\r", 4) != 4)
            break;
        bool replied = false;
        char buffer[64];
        while (!replied) {
            pollfd fd{device, POLLIN, 0};
            if (poll(&fd, 1, 1000) <= 0)
                break;
            const ssize_t n = ::read(device, buffer, sizeof buffer);
            replied = n > 0 && std::memchr(buffer, '\r', std::size_t(n)) != nullptr;
        }
        if (!replied)
            break;
        samples.push_back(msSince(t0));
    }
    ::close(device);
    return samples;
}

// A query that needs the line, with nothing cached: back to back, and 100 ms apart; the
// daemon's own share is its round trip less the same read sent straight to the device.
void pjlinkLine(int count) {
    const std::vector<double> direct = directReads(count);
    BridgeProcess bridge;
    if (!bridge.startSim(false) || !bridge.startDaemon({.cacheMs = 0})) {
        row("trv-bridge: POWR ? on the line", "trv-sim or trv-bridge unavailable", "");
        return;
    }
    PjlinkClient client(bridge.port);
    if (!client.ready()) {
        row("trv-bridge: POWR ? on the line", "no greeting", "");
        return;
    }
    client.ask("%1POWR ?\r"); // the line is open
    spin(200);
    const std::vector<double> backToBack = roundTrips(client, "%1POWR ?\r", count);
    spin(200);
    const std::vector<double> spaced = roundTrips(client, "%1POWR ?\r", count, 100);
    percentilesRow("trv-bridge POWR ?, line, back to back: 50/99", backToBack, "");
    percentilesRow("  the same, 100 ms between: 50th / 99th", spaced, "");
    char wire[32];
    std::snprintf(wire, sizeof wire, "(wire, %d baud)", kBaud);
    percentilesRow("  CR0 straight to the device: 50th / 99th", direct, wire);
    char figure[64];
    for (const auto* series : {&backToBack, &spaced}) {
        std::snprintf(figure, sizeof figure, "%.3f / %.3f ms",
                      percentile(*series, 50) - percentile(direct, 50),
                      percentile(*series, 99) - percentile(direct, 99));
        row(series == &backToBack ? "  own share, back to back: 50th / 99th"
                                  : "  own share, 100 ms between: 50th / 99th",
            figure, "99th <= 2 ms");
    }
    bridge.reportLog();
}

// 64 clients, each asking for the power once a second, their first requests spread over the
// first second; the daemon's cache as it comes. Each client has an address of its own,
// 127.0.0.2 to 127.0.0.65, since the daemon takes only so many connections from one address.
void pjlinkPollers(int seconds) {
    constexpr int kClients = 64;
    BridgeProcess bridge;
    if (!bridge.startSim(true) || !bridge.startDaemon({})) {
        row("trv-bridge: 64 pollers", "trv-sim or trv-bridge unavailable", "");
        return;
    }
    std::vector<std::unique_ptr<PjlinkClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<PjlinkClient>(bridge.port, 2 + i));
        if (!clients.back()->ready()) {
            row("trv-bridge: 64 pollers", "a client had no greeting", "");
            return;
        }
    }
    spin(200);
    const int readsBefore = bridge.lineReads();
    const long residentBefore = bridge.memoryKiB("VmRSS:");
    const double cpuBefore = bridge.cpuMs();
    const auto start = Clock::now();

    std::vector<std::vector<double>> latencies(kClients);
    std::atomic<int> failed{0};
    std::atomic<int> running{kClients};
    std::vector<std::thread> pollers;
    for (int i = 0; i < kClients; ++i) {
        pollers.emplace_back([&, i] {
            const auto first = start + std::chrono::microseconds(i * 1'000'000 / kClients);
            for (int k = 0; k < seconds; ++k) {
                std::this_thread::sleep_until(first + std::chrono::seconds(k));
                const auto t0 = Clock::now();
                const std::string reply = clients[std::size_t(i)]->ask("%1POWR ?\r", 10000);
                latencies[std::size_t(i)].push_back(msSince(t0));
                if (reply.rfind("%1POWR=", 0) != 0)
                    ++failed;
            }
            --running;
        });
    }
    while (running > 0)
        spin(100); // trv-sim's trace is taken meanwhile
    for (std::thread& poller : pollers)
        poller.join();
    const double wallMs = msSince(start);
    const double cpuMs = bridge.cpuMs() - cpuBefore;
    spin(100);
    const int reads = bridge.lineReads() - readsBefore;
    const long resident = bridge.memoryKiB("VmRSS:");
    const long peak = bridge.memoryKiB("VmHWM:");
    clients.clear();

    std::vector<double> all;
    for (const auto& series : latencies)
        all.insert(all.end(), series.begin(), series.end());
    const double worst = all.empty() ? 0 : *std::max_element(all.begin(), all.end());
    char figure[96];
    std::snprintf(figure, sizeof figure, "%.1f ms (%zu replies, %d not POWR=)", worst, all.size(),
                  failed.load());
    row("64 pollers, POWR ? a second: slowest reply", figure, "<= 2 s");
    std::snprintf(figure, sizeof figure, "%.3f / %.3f ms", percentile(all, 50),
                  percentile(all, 99));
    row("  reply: 50th / 99th", figure, "");
    std::snprintf(figure, sizeof figure, "%d in %.1f s (%.2f a second)", reads, wallMs / 1000,
                  double(reads) * 1000 / wallMs);
    row("  status reads on the line (cache 1000 ms)", figure, "~1 a second");
    std::snprintf(figure, sizeof figure, "%.2f %% of a core (%.0f ms in %.0f s)",
                  100 * cpuMs / wallMs, cpuMs, wallMs / 1000);
    row("  trv-bridge CPU (utime + stime)", figure, "< 5 %");
    std::snprintf(figure, sizeof figure, "%.1f MiB (peak %.1f, before %.1f)",
                  double(resident) / 1024, double(peak) / 1024, double(residentBefore) / 1024);
    row("  trv-bridge resident memory at the end", figure, "< 20 MiB");
    bridge.reportLog();
}

} // namespace

void pjlinkBench(bool quick) {
    pjlinkCached(quick ? 500 : 2000);
    pjlinkLine(quick ? 60 : 300);
    pjlinkPollers(quick ? 20 : 60);
}

} // namespace bench
