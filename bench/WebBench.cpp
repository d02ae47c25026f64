// trv-bridge's web front end, the daemon its own process in front of the bench's own device on
// a pseudo-terminal: POST /api/send against the exchange at the device, a reply's arrival to
// the WebSocket event carrying it, 64 event sockets beside 64 PJLink pollers, and, with node and
// chromium, the panel page's first paint and a hold pressed in it.
#include "Benchmarks.h"
#include "BridgeProcess.h"
#include "EventClient.h"
#include "Harness.h"
#include "HttpClient.h"
#include "PjlinkClient.h"
#include "Socks5Relay.h"
#include "StampedDevice.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

namespace bench {
namespace {

constexpr int kPjlinkFirstHost = 2;  // PJLink pollers from 127.0.0.2 to .65
constexpr int kEventsFirstHost = 66; // event sockets from 127.0.0.66 to .129
constexpr int kClients = 64;

// Runs the event loop until `done`, at most `ms`; whether it came.
template <typename Done> bool spinUntil(Done done, int ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() >= until)
            return false;
        spin(1);
    }
    return true;
}

// POST /api/send of "CR0" from one kept-alive client, back to back; the daemon's own share is
// each round trip less the time the device took from the command's carriage return to the end
// of its reply.
void webSend(int count) {
    StampedDevice device;
    BridgeProcess bridge;
    if (const char* why = bridge.startInFrontOf(device.path(), {})) {
        row("web: POST /api/send", why, "");
        return;
    }
    HttpClient client(bridge.httpPort);
    const QByteArray body = R"({"command":"CR0"})";
    for (int i = 0; i < 20; ++i)
        client.request("POST", "/api/send", body); // warm up
    std::vector<double> trips, own, exchangeMs;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const std::size_t before = device.count();
        const auto t0 = Clock::now();
        const HttpClient::Reply reply = client.request("POST", "/api/send", body);
        const double trip = msSince(t0);
        const QJsonObject result = QJsonDocument::fromJson(reply.body).object();
        const auto exchange = device.waitFor("CR0", before, 1000);
        if (reply.status != 200 || !result.value(QLatin1String("replied")).toBool() || !exchange) {
            ++failed;
            continue;
        }
        const double atDevice = msBetween(exchange->arrived, exchange->finished);
        trips.push_back(trip);
        exchangeMs.push_back(atDevice);
        own.push_back(trip - atDevice);
    }
    char extra[48];
    std::snprintf(extra, sizeof extra, " (%zu, %d failed)", trips.size(), failed);
    percentilesRow("web: POST /api/send CR0, round trip 50/99", trips, "", extra);
    percentilesRow("  at the device, CR in to reply out: 50/99", exchangeMs, "");
    percentilesRow("  own share beyond the exchange: 50th/99th", own, "99th <= 2 ms");
    bridge.reportLog();
}

// Whether an event carries the whole reply: its traffic line, or the receive display with its
// carriage return (the echo shows it as "[CR]").
bool carriesReply(const QJsonObject& message) {
    const QString type = message.value(QLatin1String("type")).toString();
    if (type == QLatin1String("traffic"))
        return message.value(QLatin1String("dir")).toString() == QLatin1String("RX");
    return type == QLatin1String("display") &&
           message.value(QLatin1String("rx")).toString().contains(QLatin1String("[CR]"));
}

// "CR0" sent on a page's socket, `count` times 20 ms apart; from the device's writing the end
// of its reply to the first event carrying it on that socket. Paced: the reply comes a
// character at a time at 19200 baud, as on a serial line.
void webEvents(int count, bool paced) {
    const char* what = paced ? "  the same, paced at 19200 baud: 50th/99th"
                             : "web: reply written to its event: 50th/99th";
    StampedDevice device;
    device.setPaced(paced);
    BridgeProcess bridge;
    if (const char* why = bridge.startInFrontOf(device.path(), {})) {
        row(what, why, "");
        return;
    }
    EventClient client;
    client.open(bridge.httpUrl);
    if (!spinUntil([&] { return client.hasHello(); }, 5000)) {
        row(what, "no hello on /api/events", "");
        return;
    }
    // Every event that could carry a reply; the sample is the first after the reply's writing.
    std::vector<Clock::time_point> seen;
    client.onMessage([&](const QJsonObject& message, Clock::time_point at) {
        if (carriesReply(message))
            seen.push_back(at);
    });
    const QJsonObject send{{QStringLiteral("type"), QStringLiteral("send")},
                           {QStringLiteral("command"), QStringLiteral("CR0")},
                           {QStringLiteral("address"), QString()}};
    std::vector<double> samples;
    int missed = 0;
    for (int i = 0; i < count + 10; ++i) {
        seen.clear();
        const std::size_t before = device.count();
        client.send(send);
        const auto exchange = device.waitFor("CR0", before, 2000);
        const auto event = [&] {
            return exchange ? std::find_if(seen.begin(), seen.end(),
                                           [&](auto at) { return at >= exchange->finished; })
                            : seen.end();
        };
        if (!exchange || !spinUntil([&] { return event() != seen.end(); }, 2000)) {
            ++missed;
            continue;
        }
        if (i >= 10) // the first ten warm up
            samples.push_back(msBetween(exchange->finished, *event()));
        spin(20);
    }
    const auto over =
        std::count_if(samples.begin(), samples.end(), [](double ms) { return ms > 5; });
    char extra[64];
    std::snprintf(extra, sizeof extra, " (%zu; %d > 5 ms, %d missed)", samples.size(), int(over),
                  missed);
    percentilesRow(what, samples, paced ? "" : "99th <= 5 ms", extra);
    bridge.reportLog();
}

// 64 event sockets, each from an address of its own, taking what the daemon sends, and 64
// PJLink clients asking for the power once a second as the pjlink part's pollers do, for
// `seconds`: the daemon's time on a CPU over wall time and its peak resident memory.
void webLoad(int seconds) {
    StampedDevice device;
    BridgeProcess bridge;
    if (const char* why = bridge.startInFrontOf(device.path(), {})) {
        row("web: 64 sockets + 64 PJLink pollers", why, "");
        return;
    }
    Socks5Relay relay(kEventsFirstHost);
    if (!relay.listen()) {
        row("web: 64 sockets + 64 PJLink pollers", "no relay for the sockets", "");
        return;
    }
    spin(300); // the status request's connection is gone from the daemon's count
    const QNetworkProxy proxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"),
                              relay.port());
    std::vector<std::unique_ptr<EventClient>> sockets;
    for (int i = 0; i < kClients; ++i) {
        sockets.push_back(std::make_unique<EventClient>());
        sockets.back()->setProxy(proxy);
        sockets.back()->open(bridge.httpUrl);
    }
    const auto helloCount = [&] {
        return int(std::count_if(sockets.begin(), sockets.end(),
                                 [](const auto& socket) { return socket->hasHello(); }));
    };
    if (!spinUntil([&] { return helloCount() == kClients; }, 10000)) {
        char figure[64];
        std::snprintf(figure, sizeof figure, "%d of %d sockets had a hello", helloCount(),
                      kClients);
        row("web: 64 sockets + 64 PJLink pollers", figure, "");
        bridge.reportLog();
        return;
    }
    std::vector<std::unique_ptr<PjlinkClient>> pollers;
    for (int i = 0; i < kClients; ++i) {
        pollers.push_back(std::make_unique<PjlinkClient>(bridge.port, kPjlinkFirstHost + i));
        if (!pollers.back()->ready()) {
            row("web: 64 sockets + 64 PJLink pollers", "a PJLink client had no greeting", "");
            return;
        }
    }
    spin(500);
    const qint64 pid = bridge.daemon.processId();
    const long residentBefore = bridge.memoryKiB("VmRSS:");
    const int messagesBefore = [&] {
        int n = 0;
        for (const auto& socket : sockets)
            n += socket->messages();
        return n;
    }();
    const std::size_t commandsBefore = device.count();
    const std::int64_t cpuBefore = processCpuNs(pid);
    const auto start = Clock::now();

    std::atomic<int> replies{0};
    std::atomic<int> failed{0};
    std::atomic<int> running{kClients};
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            const auto first = start + std::chrono::microseconds(i * 1'000'000 / kClients);
            for (int k = 0; k < seconds; ++k) {
                std::this_thread::sleep_until(first + std::chrono::seconds(k));
                const std::string reply = pollers[std::size_t(i)]->ask("%1POWR ?\r", 10000);
                ++(reply.rfind("%1POWR=", 0) == 0 ? replies : failed);
            }
            --running;
        });
    }
    while (running > 0)
        spin(50); // the sockets take their messages meanwhile
    for (std::thread& thread : threads)
        thread.join();
    const double wallMs = msSince(start);
    const double cpuMs = double(processCpuNs(pid) - cpuBefore) / 1e6;
    const long peak = bridge.memoryKiB("VmHWM:");
    const long resident = bridge.memoryKiB("VmRSS:");
    int messages = -messagesBefore;
    int closed = 0;
    for (const auto& socket : sockets) {
        messages += socket->messages();
        closed += socket->isClosed() ? 1 : 0;
    }

    char figure[96];
    std::snprintf(figure, sizeof figure, "%.2f %% of a core (%.0f ms in %.0f s)",
                  100 * cpuMs / wallMs, cpuMs, wallMs / 1000);
    row("web: 64 sockets + 64 PJLink pollers: CPU", figure, "< 5 %");
    std::snprintf(figure, sizeof figure, "%.1f MiB (end %.1f, before %.1f)", double(peak) / 1024,
                  double(resident) / 1024, double(residentBefore) / 1024);
    row("  trv-bridge peak resident memory (VmHWM)", figure, "< 32 MiB");
    std::snprintf(figure, sizeof figure, "%d (%.1f a socket a second), %d closed", messages,
                  double(messages) * 1000 / wallMs / kClients, closed);
    row("  event messages the sockets received", figure, "");
    std::snprintf(figure, sizeof figure, "%d, %d not POWR=; %zu commands on the line",
                  replies.load(), failed.load(), device.count() - commandsBefore);
    row("  PJLink replies", figure, "");
    bridge.reportLog();
}

// One hold of ZOOM's up arrow, from its press to its release as trv-bench saw them.
struct Hold {
    Clock::time_point pressed;
    Clock::time_point released;
};

// The rows of holds of ZOOM's up arrow, as the hold part gives them: the "C47"s arriving at
// the device between a press and 400 ms after its release (the next press comes 500 ms
// after); the median interval, the 99th percentile of the intervals and of their deviation
// from 100 ms (the median of the holds, and each), and the sends arriving later than 2 ms
// after a release (all holds).
void holdRows(const char* who, const StampedDevice& device, const std::vector<Hold>& holds) {
    const std::vector<StampedDevice::Exchange> exchanges = device.exchanges();
    std::vector<double> medians, longest, deviations;
    std::size_t sends = 0;
    int afterRelease = 0;
    double latest = 0; // of those after a release, from it
    for (const Hold& hold : holds) {
        std::vector<Clock::time_point> arrivals;
        for (const StampedDevice::Exchange& exchange : exchanges) {
            // The first send goes out on the press, before trv-bench hears of it.
            if (exchange.command == "C47" &&
                exchange.arrived >= hold.pressed - std::chrono::milliseconds(50) &&
                exchange.arrived <= hold.released + std::chrono::milliseconds(400))
                arrivals.push_back(exchange.arrived);
        }
        std::vector<double> intervals, off;
        for (std::size_t i = 0; i < arrivals.size(); ++i) {
            if (arrivals[i] > hold.released + std::chrono::milliseconds(2)) {
                ++afterRelease;
                latest = std::max(latest, msBetween(hold.released, arrivals[i]));
            } else if (i > 0) {
                intervals.push_back(msBetween(arrivals[i - 1], arrivals[i]));
                off.push_back(std::abs(intervals.back() - 100.0));
            }
        }
        medians.push_back(percentile(intervals, 50));
        longest.push_back(percentile(intervals, 99));
        deviations.push_back(percentile(off, 99));
        sends = arrivals.size();
    }
    char what[64];
    char figure[96];
    std::snprintf(what, sizeof what, "%s: interval 50/99", who);
    std::snprintf(figure, sizeof figure, "%.2f / %.2f ms (%zu x %zu sends)",
                  percentile(medians, 50), percentile(longest, 50), holds.size(), sends);
    row(what, figure, "100 ms");
    std::string runs;
    for (const double deviation : deviations)
        runs += (runs.empty() ? "" : ", ") + QByteArray::number(deviation, 'f', 2).toStdString();
    std::snprintf(figure, sizeof figure, "%.2f ms (runs: %s)", percentile(deviations, 50),
                  runs.c_str());
    row("  99th percentile deviation from 100 ms", figure, "<= 2 ms");
    if (afterRelease > 0)
        std::snprintf(figure, sizeof figure, "%d (the last %.1f ms after)", afterRelease, latest);
    else
        std::snprintf(figure, sizeof figure, "0");
    row("  sends after the release", figure, "0");
}

// Collects, from the traffic lines `client` receives, when the daemon sent each "C47" by its
// own clock (whole milliseconds).
void watchSends(EventClient& client, std::vector<QDateTime>& times) {
    client.onMessage([&times](const QJsonObject& message, Clock::time_point) {
        if (message.value(QLatin1String("type")).toString() == QLatin1String("traffic") &&
            message.value(QLatin1String("hex")).toString() == QLatin1String("43 34 37 0D"))
            times.push_back(QDateTime::fromString(message.value(QLatin1String("time")).toString(),
                                                  Qt::ISODateWithMs));
    });
}

// The daemon's own cadence: its send times' intervals within the holds (those under 300 ms),
// against which the device's stamps show what the machine added on the way to trv-bench.
void sendTimesRow(const std::vector<QDateTime>& times) {
    std::vector<double> off;
    for (std::size_t i = 1; i < times.size(); ++i) {
        const qint64 ms = times[i - 1].msecsTo(times[i]);
        if (ms < 300)
            off.push_back(std::abs(double(ms) - 100.0));
    }
    char figure[96];
    std::snprintf(figure, sizeof figure, "%.0f ms (largest %.0f; %zu intervals)",
                  percentile(off, 99),
                  off.empty() ? 0.0 : *std::max_element(off.begin(), off.end()), off.size());
    row("  the daemon's own send times: 99th dev", figure, "(1 ms steps)");
}

// The same holds from a plain event socket, as the page holds: "hold", "keep" every 150 ms,
// "release"; the daemon's cadence without a browser beside it on the machine. Three holds of
// `holdMs`, 500 ms apart, on one socket.
void webSocketHold(int holdMs) {
    StampedDevice device;
    BridgeProcess bridge;
    if (const char* why = bridge.startInFrontOf(device.path(), {})) {
        row("web hold, plain socket", why, "");
        return;
    }
    EventClient client;
    client.open(bridge.httpUrl);
    if (!spinUntil([&] { return client.hasHello(); }, 5000)) {
        row("web hold, plain socket", "no hello on /api/events", "");
        return;
    }
    spin(200);
    QTimer keep;
    keep.setTimerType(Qt::PreciseTimer);
    QObject::connect(&keep, &QTimer::timeout, &client, [&] {
        client.send({{QStringLiteral("type"), QStringLiteral("keep")}});
    });
    std::vector<QDateTime> sendTimes;
    watchSends(client, sendTimes);
    std::vector<Hold> holds;
    for (int run = 0; run < 3; ++run) {
        const auto pressed = Clock::now();
        client.send({{QStringLiteral("type"), QStringLiteral("hold")},
                     {QStringLiteral("command"), QStringLiteral("C47")},
                     {QStringLiteral("address"), QString()}});
        keep.start(150);
        spin(holdMs);
        keep.stop();
        client.send({{QStringLiteral("type"), QStringLiteral("release")}});
        holds.push_back({pressed, Clock::now()});
        spin(500);
    }
    holdRows("web hold, plain socket", device, holds);
    sendTimesRow(sendTimes);
    bridge.reportLog();
}

// Why the browser measures cannot run here, or nothing when they can.
QString browserMissing(const QString& node, const QString& modules, const QString& script) {
    if (node.isEmpty())
        return QStringLiteral("skipped: no node on the PATH");
    if (!QFileInfo::exists(QStringLiteral("/usr/bin/chromium")))
        return QStringLiteral("skipped: no /usr/bin/chromium");
    if (!QFileInfo::exists(modules + QStringLiteral("/node_modules/puppeteer-core")))
        return QStringLiteral("skipped: npm ci in tests/browser");
    if (!QFileInfo::exists(script))
        return QStringLiteral("skipped: no bench/web-browser.mjs");
    return {};
}

// The panel page in chromium, driven by bench/web-browser.mjs: the first paint and the panel's
// buttons of `loads` loads, each in a fresh browser context; then ZOOM's up arrow pressed with
// the pointer three times for `holdMs`, each "C47" stamped by the device as it arrives.
void webBrowser(int loads, int holdMs) {
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    const QString modules = QStringLiteral(TRV_SOURCE_DIR "/tests/browser");
    const QString script = QStringLiteral(TRV_SOURCE_DIR "/bench/web-browser.mjs");
    if (const QString missing = browserMissing(node, modules, script); !missing.isEmpty()) {
        row("web page in chromium", qPrintable(missing), "");
        return;
    }
    StampedDevice device;
    BridgeProcess bridge;
    if (const char* why = bridge.startInFrontOf(device.path(), {})) {
        row("web page in chromium", why, "");
        return;
    }
    // A plain socket beside the page, for the daemon's own send times.
    EventClient watcher;
    watcher.open(bridge.httpUrl);
    std::vector<QDateTime> sendTimes;
    if (spinUntil([&] { return watcher.hasHello(); }, 5000))
        watchSends(watcher, sendTimes);
    QProcess browser;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TRV_BROWSER_MODULES"), modules);
    browser.setProcessEnvironment(env);
    browser.setStandardErrorFile(bridge.dir.path() + QStringLiteral("/browser.log"));
    std::vector<double> paints, buttons;
    int buttonCount = 0;
    std::vector<Hold> holds;
    std::optional<Clock::time_point> pressed;
    QString error;
    QEventLoop loop;
    QObject::connect(&browser, &QProcess::readyReadStandardOutput, &loop, [&] {
        while (browser.canReadLine()) {
            const auto at = Clock::now();
            const QString line = QString::fromUtf8(browser.readLine()).trimmed();
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.value(0) == QLatin1String("load") && words.size() == 4) {
                paints.push_back(words[1].toDouble());
                buttons.push_back(words[2].toDouble());
                buttonCount = words[3].toInt();
            } else if (line == QLatin1String("pressed")) {
                pressed = at;
            } else if (line == QLatin1String("released") && pressed) {
                holds.push_back({*std::exchange(pressed, std::nullopt), at});
            } else if (words.value(0) == QLatin1String("error")) {
                error = line.mid(6);
            }
        }
    });
    QObject::connect(&browser, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    browser.start(node, {script, bridge.httpUrl, QString::number(loads), QString::number(holdMs)});
    loop.exec();
    if (browser.state() != QProcess::NotRunning) {
        browser.kill();
        browser.waitForFinished(5000);
        error = QStringLiteral("the browser script did not end in 120 s");
    }
    if (!error.isEmpty() || paints.empty() || holds.size() != 3) {
        if (error.isEmpty())
            error =
                QStringLiteral("the browser script ended early (exit %1)").arg(browser.exitCode());
        row("web page in chromium", qPrintable(error.left(34)), "");
        std::fprintf(stderr, "trv-bench: web page: %s (its log: %s)\n", qPrintable(error),
                     qPrintable(bridge.dir.path() + QStringLiteral("/browser.log")));
        return;
    }

    char figure[96];
    std::snprintf(figure, sizeof figure, "%.1f ms (median of %zu; first %.1f)",
                  percentile(paints, 50), paints.size(), paints.front());
    row("web page: first contentful paint", figure, "");
    std::snprintf(figure, sizeof figure, "%.1f ms (median of %zu; first %.1f)",
                  percentile(buttons, 50), buttons.size(), buttons.front());
    char what[64];
    std::snprintf(what, sizeof what, "web page: its %d buttons in the document", buttonCount);
    row(what, figure, "");

    holdRows("web hold, pointer in chromium", device, holds);
    sendTimesRow(sendTimes);
    bridge.reportLog();
}

} // namespace

void webBench(bool quick) {
    webSend(quick ? 60 : 300);
    webEvents(quick ? 60 : 300, false);
    webEvents(quick ? 30 : 100, true);
    webLoad(quick ? 10 : 60);
    webSocketHold(3000);
    webBrowser(quick ? 3 : 5, 3000);
}

} // namespace bench
