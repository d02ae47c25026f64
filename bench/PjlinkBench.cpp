// The trv-bridge process in front of trv-sim, with PJLink clients on plain sockets on the
// loopback: queries without the line, queries on the line, and 64 pollers from 64 addresses.
#include "Benchmarks.h"
#include "Harness.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace bench {
namespace {

// The line speed of the simulator and of the daemon, which paces every reply on the wire.
constexpr int kBaud = 19200;

// trv-sim on a pseudo-terminal and trv-bridge in front of it, each its own process, in a
// temporary directory; both are stopped with the object.
struct Bridge {
    QTemporaryDir dir;
    QProcess sim;
    QProcess daemon;
    QByteArray simOutput; // what trv-sim printed: its device, then with --trace each command
    QString link = dir.path() + QStringLiteral("/projector");
    quint16 port = 0;

    static QString bin(const char* name) {
        return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
    }

    bool startSim(bool trace) {
        QStringList arguments{QStringLiteral("--link"), link, QStringLiteral("--baud"),
                              QString::number(kBaud)};
        if (trace)
            arguments << QStringLiteral("--trace");
        sim.setStandardErrorFile(dir.path() + QStringLiteral("/trv-sim.log"));
        sim.start(bin("trv-sim"), arguments);
        if (!sim.waitForStarted(5000))
            return false;
        while (!readSim().contains('\n')) {
            if (!sim.waitForReadyRead(5000))
                return false;
        }
        return true;
    }

    // Without `cacheMs` the daemon keeps its own default.
    bool startDaemon(std::optional<int> cacheMs) {
        QStringList arguments{QStringLiteral("--port"),          link,
                              QStringLiteral("--baud"),          QString::number(kBaud),
                              QStringLiteral("--pjlink-listen"), QStringLiteral("127.0.0.1:0")};
        if (cacheMs)
            arguments << QStringLiteral("--cache-ms") << QString::number(*cacheMs);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        daemon.setProcessEnvironment(env);
        daemon.setStandardErrorFile(dir.path() + QStringLiteral("/trv-bridge.log"));
        daemon.start(bin("trv-bridge"), arguments);
        if (!daemon.waitForStarted(5000))
            return false;
        while (!daemon.canReadLine()) {
            if (!daemon.waitForReadyRead(5000))
                return false;
        }
        const QByteArray line = daemon.readLine().trimmed(); // pjlink 127.0.0.1:PORT
        const QByteArray prefix = "pjlink 127.0.0.1:";
        if (!line.startsWith(prefix))
            return false;
        port = quint16(line.mid(prefix.size()).toUInt());
        return port != 0;
    }

    const QByteArray& readSim() {
        simOutput += sim.readAllStandardOutput();
        return simOutput;
    }

    // Status reads the simulator has received so far.
    int lineReads() { return int(readSim().split('\n').count("CR0")); }

    // /proc/PID/status in kiB: VmRSS or VmHWM.
    long memoryKiB(const char* key) const {
        QFile file(QStringLiteral("/proc/%1/status").arg(daemon.processId()));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.startsWith(key))
                return line.mid(int(std::strlen(key)) + 1).trimmed().split(' ').value(0).toLong();
        }
        return 0;
    }

    // utime + stime from /proc/PID/stat, in milliseconds.
    double cpuMs() const {
        QFile file(QStringLiteral("/proc/%1/stat").arg(daemon.processId()));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray stat = file.readAll();
        // The fields after the name in parentheses start with the third, the state.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return 0;
        const double ticks = double(fields[11].toLongLong() + fields[12].toLongLong());
        return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }

    // What the daemon logged beyond starting, opening the line and clients coming and going.
    void reportLog() const {
        QFile file(dir.path() + QStringLiteral("/trv-bridge.log"));
        if (!file.open(QIODevice::ReadOnly))
            return;
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (line.isEmpty() || line.contains("listening on") || line.contains("line open") ||
                line.contains(": connected") || line.contains("closed: by the client") ||
                line.contains("ending"))
                continue;
            std::fprintf(stderr, "trv-bench: the daemon logged: %s\n", line.constData());
        }
    }

    ~Bridge() {
        if (daemon.state() != QProcess::NotRunning) {
            daemon.terminate();
            daemon.waitForFinished(5000);
        }
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

// A PJLink client on a plain socket, without a password, from 127.0.0.`host`.
class PjlinkClient {
public:
    explicit PjlinkClient(quint16 port, int host = 1) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + std::uint32_t(host));
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        const int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        greeting_ = line(5000);
    }
    ~PjlinkClient() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PjlinkClient(const PjlinkClient&) = delete;
    PjlinkClient& operator=(const PjlinkClient&) = delete;

    bool ready() const { return fd_ >= 0 && greeting_ == "PJLINK 0"; }

    // The reply to `request` without its carriage return; empty when none came in time.
    std::string ask(std::string_view request, int timeoutMs = 5000) {
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
            return {};
        return line(timeoutMs);
    }

private:
    std::string line(int timeoutMs) {
        const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (const std::size_t end = buffer_.find('\r'); end != std::string::npos) {
                std::string text = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return text;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd fd{fd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0)
                return {};
            char chunk[256];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return {};
            buffer_.append(chunk, std::size_t(n));
        }
    }

    int fd_ = -1;
    std::string greeting_;
    std::string buffer_;
};

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

void pjlinkRow(const char* what, const std::vector<double>& samples, const char* target,
               const char* extra = "") {
    char figure[96];
    std::snprintf(figure, sizeof figure, "%.3f / %.3f ms%s", percentile(samples, 50),
                  percentile(samples, 99), extra);
    row(what, figure, target);
}

// Queries answered without the line: the class, and the power with the status read cached.
void pjlinkCached(int count) {
    Bridge bridge;
    if (!bridge.startSim(true) || !bridge.startDaemon(60000)) {
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
    pjlinkRow("trv-bridge CLSS ? (no line): 50th / 99th", clss, "", extra);
    const std::string first = client.ask("%1POWR ?\r");
    const std::vector<double> powr = roundTrips(client, "%1POWR ?\r", count);
    spin(100);
    std::snprintf(extra, sizeof extra, ", %d line read", bridge.lineReads());
    pjlinkRow("trv-bridge POWR ?, cached: 50th / 99th", powr, "", extra);
    if (first != "%1POWR=0")
        std::fprintf(stderr, "trv-bench: first POWR ? answered \"%s\"\n", first.c_str());
    bridge.reportLog();
}

// The status read straight on the simulator's device, as trv-bridge sends it.
std::vector<double> directReads(int count) {
    Bridge bridge;
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
    Bridge bridge;
    if (!bridge.startSim(false) || !bridge.startDaemon(0)) {
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
    pjlinkRow("trv-bridge POWR ?, line, back to back: 50/99", backToBack, "");
    pjlinkRow("  the same, 100 ms between: 50th / 99th", spaced, "");
    char wire[32];
    std::snprintf(wire, sizeof wire, "(wire, %d baud)", kBaud);
    pjlinkRow("  CR0 straight to the device: 50th / 99th", direct, wire);
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
    Bridge bridge;
    if (!bridge.startSim(true) || !bridge.startDaemon(std::nullopt)) {
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
