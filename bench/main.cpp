// Measures the panel's timing on this machine: click to the line, hold cadence on the wire, a
// reception flood, the cost of one arrival against the buffer length, opening the command
// console, the cold start, a trv-ctl run, and trv-pjlink serving PJLink clients against trv-sim.
// Usage: trv-bench [--quick] [click] [hold] [flood] [record] [arrival] [console] [start] [ctl]
//                  [pjlink]
// Prints one table; see bench/README.md.
#include "link/ProjectorLink.h"
#include "link/TrafficRecord.h"
#include "link/clock/QtClock.h"
#include "link/settings/SettingsStore.h"
#include "link/transport/DevicePort.h"
#include "windows/common/QtMessageBox.h"
#include "windows/console/Form3.h"
#include "windows/panel/Form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <string_view>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct MemoryStore final : trv::SettingsStore {
    QString com9; // the port map's entry for COM9, when set
    QString portMapping(int portNo) override { return portNo == 9 ? com9 : QString(); }
    QString read(const QString& key, const QString& fallback) override {
        if (key == QLatin1String("ComPort"))
            return QStringLiteral("9");
        if (key == QLatin1String("BaudRate"))
            return QStringLiteral("192");
        return fallback;
    }
    bool write(const QString&, const QString&) override { return true; }
};

// In-memory line for measuring the reception path without a device.
struct NullSerial final : trv::SerialPort {
    void setPortNumber(int) override {}
    void setSettings(const trv::LineSettings&) override {}
    OpenResult open() override { return {true, {}}; }
    void close() override {}
    bool isOpen() const override { return true; }
    bool write(const std::string&) override { return true; }
    std::string readAll() override { return std::exchange(pending, {}); }
    std::string pending;
};

struct Pty {
    int master = -1;
    Pty() {
        int slave = -1;
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        ::close(slave);
        qputenv("ZEKO_COM9", name);
    }
    ~Pty() { ::close(master); }
};

// The panel as the program builds it, on the real line, timers and boxes.
struct Program {
    explicit Program(const QString& com9 = {}, const QString& log = {}) {
        store.com9 = com9;
        if (!log.isEmpty()) {
            record = std::make_unique<trv::TrafficRecord>(log);
            form.useRecord(*record);
        }
        form.start();
    }
    MemoryStore store;
    trv::DevicePort serial{trv::PortMap(&store)};
    trv::QtClock clock;
    trv::QtMessageBox messages;
    trv::PortValues values;
    std::unique_ptr<trv::TrafficRecord> record;
    trv::Form1 form{{serial, store, clock, messages}, values};

    QPushButton* button(const char* name) {
        return form.findChild<QPushButton*>(QString::fromLatin1(name));
    }
};

// A device end of a pseudo-terminal, opened non-blocking in raw mode.
int openRaw(const QByteArray& path) {
    const int device = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    tcgetattr(device, &raw);
    cfmakeraw(&raw);
    tcsetattr(device, TCSANOW, &raw);
    return device;
}

// The device end of the pseudo-terminal (COM9).
int openRawDevice() { return openRaw(qgetenv("ZEKO_COM9")); }

// Runs the event loop, sleeping between events, for `ms` milliseconds.
void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(std::ceil(p / 100.0 * double(v.size())) - 1);
    return v[std::min(i, v.size() - 1)];
}

void row(const char* what, const char* figure, const char* target) {
    std::printf("| %-44s | %-34s | %-14s |\n", what, figure, target);
    std::fflush(stdout);
}

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

// The machine is shared: the median of three holds (the sends after the release: all three).
void holdCadence(int holdMs) {
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

// ser2net on the loopback in front of `device`, raw TCP; stopped with the object.
struct DeviceServer {
    QProcess process;
    QTemporaryDir dir;
    quint16 port = 0;
    bool start(const QByteArray& device) {
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            port = probe.serverPort();
        }
        QFile config(dir.path() + QStringLiteral("/ser2net.yaml"));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("%YAML 1.1\n---\nconnection: &bench\n  accepter: tcp,127.0.0.1," +
                     QByteArray::number(port) + "\n  connector: serialdev," + device +
                     ",19200n81,local\n");
        config.close();
        process.start(
            QFile::exists(QStringLiteral("/usr/sbin/ser2net")) ? QStringLiteral("/usr/sbin/ser2net")
                                                               : QStringLiteral("ser2net"),
            {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config.fileName(),
             QStringLiteral("-P"), dir.path() + QStringLiteral("/pid")});
        if (!process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 50; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (socket.waitForConnected(100))
                return true;
            spin(50);
        }
        return false;
    }
    ~DeviceServer() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// Click to the carriage return read at the far end of the pseudo-terminal, directly or with
// ser2net between the panel and the device.
void clickToWrite(bool throughServer) {
    Pty pty;
    // The far end keeps a raw device open, as the simulator does, so the line settles.
    const int device = openRawDevice();
    DeviceServer server;
    QString com9;
    if (throughServer) {
        if (!server.start(qgetenv("ZEKO_COM9"))) {
            row("click to simulator through ser2net", "ser2net unavailable", "");
            ::close(device);
            return;
        }
        com9 = QStringLiteral("tcp://127.0.0.1:%1").arg(server.port);
        qunsetenv("ZEKO_COM9");
    }
    Program program(com9);
    QPushButton* status = program.button("Command44");
    std::vector<double> samples;
    for (int i = 0; i < 300; ++i) {
        const auto t0 = Clock::now();
        QTest::mouseClick(status, Qt::LeftButton);
        QCoreApplication::processEvents();
        char buffer[64];
        for (;;) {
            pollfd fd{pty.master, POLLIN, 0};
            if (poll(&fd, 1, 1000) <= 0)
                break;
            const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
            if (n > 0 && std::memchr(buffer, '\r', std::size_t(n)) != nullptr)
                break;
        }
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        spin(2);
    }
    ::close(device);
    char figure[64];
    std::snprintf(figure, sizeof figure, "%.3f ms / %.3f ms", percentile(samples, 50),
                  percentile(samples, 99));
    row(throughServer ? "click to line via ser2net (TCP): 50th / 99th"
                      : "click to write on the line: 50th / 99th pct",
        figure, throughServer ? "99th <= direct + 2 ms" : "99th <= 1 ms");
}

long residentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Printable text with a carriage return every 20 characters, as a chatty device sends it.
struct FloodText {
    int n = 0;
    char next() {
        const char c = ++n % 20 == 0 ? '\r' : char('!' + n % 90);
        return c;
    }
};

// Writes 1920 characters a second (19200 baud) into `fd` in writes of `piece` characters,
// each at its due time, until `stop`.
void floodWriter(int fd, int piece, const std::atomic<bool>& stop) {
    FloodText text;
    const auto start = Clock::now();
    const auto period = std::chrono::duration<double>(double(piece) / 1920.0);
    std::string chunk(std::size_t(piece), ' ');
    for (long i = 1; !stop; ++i) {
        for (char& c : chunk)
            c = text.next();
        if (::write(fd, chunk.data(), chunk.size()) < 0 && errno != EAGAIN)
            return;
        std::this_thread::sleep_until(start +
                                      std::chrono::duration_cast<Clock::duration>(period * i));
    }
}

struct FloodFigures {
    double share;
    long growth;
};

// The panel at full height showing a flood: CPU share of its thread and memory growth.
FloodFigures floodOnce(int seconds, int piece, const QString& log = {}) {
    Pty pty;
    Program program({}, log);
    program.form.setOuterHeightTwips(8100); // the receive display on screen
    program.button("Command44")->click();
    std::atomic<bool> stop{false};
    std::thread writer([&] { floodWriter(pty.master, piece, stop); });
    spin(1000); // warm up: first allocations, font caches
    const long rssBefore = residentKiB();
    const double cpuBefore = threadCpuMs();
    QElapsedTimer wall;
    wall.start();
    spin(seconds * 1000);
    const double share = 100.0 * (threadCpuMs() - cpuBefore) / double(wall.elapsed());
    const long growth = residentKiB() - rssBefore;
    stop = true;
    writer.join();
    return {share, growth};
}

// The floor: a plain loop that polls the device and reads what is there, nothing else.
double floorOnce(int seconds, int piece) {
    Pty pty;
    const int device = openRawDevice();
    std::atomic<bool> stop{false};
    std::atomic<double> share{0};
    std::thread reader([&] {
        char buffer[4096];
        const auto loop = [&](std::chrono::milliseconds length) {
            const auto until = Clock::now() + length;
            while (Clock::now() < until) {
                pollfd fd{device, POLLIN, 0};
                if (poll(&fd, 1, 100) > 0)
                    while (::read(device, buffer, sizeof buffer) > 0) {
                    }
            }
        };
        loop(std::chrono::milliseconds(1000));
        const double cpuBefore = threadCpuMs();
        const auto t0 = Clock::now();
        loop(std::chrono::milliseconds(seconds * 1000));
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        share = 100.0 * (threadCpuMs() - cpuBefore) / wall;
        stop = true;
    });
    std::thread writer([&] { floodWriter(pty.master, piece, stop); });
    reader.join();
    writer.join();
    ::close(device);
    return share;
}

// The first character after a quiet line, from its write to the receive display showing it.
std::vector<double> quietArrivals(int count) {
    Pty pty;
    Program program;
    program.form.setOuterHeightTwips(8100);
    auto* rx = program.form.findChild<QLabel*>(QStringLiteral("Label12"));
    std::vector<double> samples;
    for (int i = 0; i < count; ++i) {
        program.button("Command44")->click();
        spin(60); // quiet for longer than a gathering window
        const QString before = rx->text();
        const auto t0 = Clock::now();
        if (::write(pty.master, "0", 1) != 1)
            break;
        while (rx->text() == before)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            100);
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return samples;
}

// The machine is shared: rounds of the floor and the panel interleaved, medians.
void flood(int seconds) {
    for (const int piece : {1, 16}) {
        std::vector<double> panel, floor;
        for (int round = 0; round < 3; ++round) {
            floor.push_back(floorOnce(seconds, piece));
            panel.push_back(floodOnce(seconds, piece).share);
        }
        char what[64], figure[64], target[32];
        std::snprintf(what, sizeof what, "flood, %d-character writes: panel CPU", piece);
        std::snprintf(figure, sizeof figure, "%.2f %% (%.2f x the floor)", percentile(panel, 50),
                      percentile(panel, 50) / percentile(floor, 50));
        std::snprintf(target, sizeof target, "<= %.1f x floor", piece == 1 ? 1.0 : 2.5);
        row(what, figure, target);
        std::snprintf(what, sizeof what, "  floor: poll-and-read loop, %d-char writes", piece);
        std::snprintf(figure, sizeof figure, "%.2f %% (3 x %d s)", percentile(floor, 50), seconds);
        row(what, figure, "(machine)");
    }
    const FloodFigures memory = floodOnce(3 * seconds, 1);
    char figure[64];
    std::snprintf(figure, sizeof figure, "%ld KiB over %d s", memory.growth, 3 * seconds);
    row("flood: resident memory growth", figure, "< 1024 KiB");
    const std::vector<double> quiet = quietArrivals(200);
    std::snprintf(figure, sizeof figure, "%.3f ms / %.3f ms", percentile(quiet, 50),
                  percentile(quiet, 99));
    row("quiet line: first character to display 50/99", figure, "unchanged");
}

// The same flood with the traffic record on and off, rounds interleaved, medians.
void floodRecorded(int seconds) {
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

void arrivalCost() {
    NullSerial serial;
    trv::QtClock clock;
    trv::ProjectorLink link(serial, clock);
    link.commandText = "CR0\r";
    for (const std::size_t length : {0u, 256u, 512u, 1000u}) {
        std::vector<double> samples;
        for (int run = 0; run < 200; ++run) {
            std::string fill(length, 'a');
            serial.pending = fill;
            std::string text = "C00\r";
            link.Hyouji(text, 1);
            if (length > 0)
                link.MSComm1_OnComm(trv::SerialPort::kCharactersReceived);
            serial.pending = "b";
            const auto t0 = Clock::now();
            link.MSComm1_OnComm(trv::SerialPort::kCharactersReceived);
            samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        char what[64];
        char figure[64];
        std::snprintf(what, sizeof what, "one arrival, buffer of %zu characters", length);
        std::snprintf(figure, sizeof figure, "%.1f us (median)", percentile(samples, 50));
        row(what, figure, "bounded (<= 1024)");
    }
}

void consoleOpening() {
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

std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The child of the cold start: the program's own start-up, up to its first window on screen.
int coldStartChild(int argc, char** argv) {
    QApplication app(argc, argv);
    Program program;
    while (program.form.windowHandle() == nullptr || !program.form.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    std::printf("%lld %ld\n", static_cast<long long>(monotonicNs()), residentKiB());
    return 0;
}

void coldStart(const char* self) {
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

// trv-ctl read status against trv-sim: the whole process, start to exit, beside the reply's
// own time on the wire as trv-ctl reports it.
void ctlReadStatus() {
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

// trv-sim on a pseudo-terminal and trv-pjlink in front of it, each its own process, in a
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
        QStringList arguments{QStringLiteral("--link"), link};
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
        QStringList arguments{QStringLiteral("--port"), link, QStringLiteral("--listen"),
                              QStringLiteral("127.0.0.1:0")};
        if (cacheMs)
            arguments << QStringLiteral("--cache-ms") << QString::number(*cacheMs);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
        daemon.setProcessEnvironment(env);
        daemon.setStandardErrorFile(dir.path() + QStringLiteral("/trv-pjlink.log"));
        daemon.start(bin("trv-pjlink"), arguments);
        if (!daemon.waitForStarted(5000))
            return false;
        while (!daemon.canReadLine()) {
            if (!daemon.waitForReadyRead(5000))
                return false;
        }
        const QByteArray address = daemon.readLine().trimmed(); // 127.0.0.1:PORT
        port = quint16(address.mid(address.lastIndexOf(':') + 1).toUInt());
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
        QFile file(dir.path() + QStringLiteral("/trv-pjlink.log"));
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

// A PJLink client on a plain socket, without a password.
class PjlinkClient {
public:
    explicit PjlinkClient(quint16 port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

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
        row("trv-pjlink: CLSS ?", "trv-sim or trv-pjlink unavailable", "");
        return;
    }
    PjlinkClient client(bridge.port);
    if (!client.ready()) {
        row("trv-pjlink: CLSS ?", "no greeting", "");
        return;
    }
    const std::vector<double> clss = roundTrips(client, "%1CLSS ?\r", count);
    char extra[48];
    std::snprintf(extra, sizeof extra, ", %zu replies", clss.size());
    pjlinkRow("trv-pjlink CLSS ? (no line): 50th / 99th", clss, "", extra);
    const std::string first = client.ask("%1POWR ?\r");
    const std::vector<double> powr = roundTrips(client, "%1POWR ?\r", count);
    spin(100);
    std::snprintf(extra, sizeof extra, ", %d line read", bridge.lineReads());
    pjlinkRow("trv-pjlink POWR ?, cached: 50th / 99th", powr, "", extra);
    if (first != "%1POWR=0")
        std::fprintf(stderr, "trv-bench: first POWR ? answered \"%s\"\n", first.c_str());
    bridge.reportLog();
}

// The status read straight on the simulator's device, as trv-pjlink sends it.
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
        row("trv-pjlink: POWR ? on the line", "trv-sim or trv-pjlink unavailable", "");
        return;
    }
    PjlinkClient client(bridge.port);
    if (!client.ready()) {
        row("trv-pjlink: POWR ? on the line", "no greeting", "");
        return;
    }
    client.ask("%1POWR ?\r"); // the line is open
    spin(200);
    const std::vector<double> backToBack = roundTrips(client, "%1POWR ?\r", count);
    spin(200);
    const std::vector<double> spaced = roundTrips(client, "%1POWR ?\r", count, 100);
    pjlinkRow("trv-pjlink POWR ?, line, back to back: 50/99", backToBack, "");
    pjlinkRow("  the same, 100 ms between: 50th / 99th", spaced, "");
    pjlinkRow("  CR0 straight to the device: 50th / 99th", direct, "(wire, 9600)");
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
// first second; the daemon's cache as it comes.
void pjlinkPollers(int seconds) {
    constexpr int kClients = 64;
    Bridge bridge;
    if (!bridge.startSim(true) || !bridge.startDaemon(std::nullopt)) {
        row("trv-pjlink: 64 pollers", "trv-sim or trv-pjlink unavailable", "");
        return;
    }
    std::vector<std::unique_ptr<PjlinkClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<PjlinkClient>(bridge.port));
        if (!clients.back()->ready()) {
            row("trv-pjlink: 64 pollers", "a client had no greeting", "");
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
    row("  trv-pjlink CPU (utime + stime)", figure, "< 5 %");
    std::snprintf(figure, sizeof figure, "%.1f MiB (peak %.1f, before %.1f)",
                  double(resident) / 1024, double(peak) / 1024, double(residentBefore) / 1024);
    row("  trv-pjlink resident memory at the end", figure, "< 20 MiB");
    bridge.reportLog();
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--cold-start-child") {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return coldStartChild(argc, argv);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool quick = false;
    for (int i = 1; i < argc; ++i)
        quick = quick || std::string(argv[i]) == "--quick";
    std::printf("| %-44s | %-34s | %-14s |\n", "measure", "figure", "target");
    std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(36, '-').c_str(),
                std::string(16, '-').c_str());
    const auto wanted = [&](const char* section) {
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]) == section)
                return true;
        }
        return argc == (quick ? 2 : 1);
    };
    if (wanted("click")) {
        clickToWrite(false);
        clickToWrite(true);
    }
    if (wanted("hold"))
        holdCadence(quick ? 1000 : 5000);
    if (wanted("flood"))
        flood(quick ? 3 : 10);
    if (wanted("record"))
        floodRecorded(quick ? 3 : 10);
    if (wanted("arrival"))
        arrivalCost();
    if (wanted("console"))
        consoleOpening();
    if (wanted("start"))
        coldStart(argv[0]);
    if (wanted("ctl"))
        ctlReadStatus();
    if (wanted("pjlink")) {
        pjlinkCached(quick ? 500 : 2000);
        pjlinkLine(quick ? 60 : 300);
        pjlinkPollers(quick ? 20 : 60);
    }
    return 0;
}
