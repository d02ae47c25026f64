// Measures the panel's timing on this machine: click to the line, hold cadence on the wire, a
// reception flood, the cost of one arrival against the buffer length, opening the command
// console, and the cold start.
// Usage: trv-bench [--quick] [click] [hold] [flood] [arrival] [console] [start] [ctl]
// Prints one table; see bench/README.md.
#include "link/ProjectorLink.h"
#include "link/QtClock.h"
#include "link/SettingsStore.h"
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
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
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
    explicit Program(const QString& com9 = {}) {
        store.com9 = com9;
        form.start();
    }
    MemoryStore store;
    trv::DevicePort serial{trv::PortMap(&store)};
    trv::QtClock clock;
    trv::QtMessageBox messages;
    trv::PortValues values;
    trv::Form1 form{{serial, store, clock, messages}, values};

    QPushButton* button(const char* name) {
        return form.findChild<QPushButton*>(QString::fromLatin1(name));
    }
};

// The device end of the pseudo-terminal (COM9), opened non-blocking in raw mode.
int openRawDevice() {
    const int device = ::open(qgetenv("ZEKO_COM9").constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    tcgetattr(device, &raw);
    cfmakeraw(&raw);
    tcsetattr(device, TCSANOW, &raw);
    return device;
}

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
FloodFigures floodOnce(int seconds, int piece) {
    Pty pty;
    Program program;
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
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    std::printf("| %-44s | %-34s | %-14s |\n", "measure", "figure", "target");
    std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(36, '-').c_str(),
                std::string(16, '-').c_str());
    const auto wanted = [&](const char* section) {
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]) == section)
                return true;
        }
        return argc == 1 || (argc == 2 && quick);
    };
    if (wanted("click")) {
        clickToWrite(false);
        clickToWrite(true);
    }
    if (wanted("hold"))
        holdCadence(quick ? 1000 : 5000);
    if (wanted("flood"))
        flood(quick ? 3 : 10);
    if (wanted("arrival"))
        arrivalCost();
    if (wanted("console"))
        consoleOpening();
    if (wanted("start"))
        coldStart(argv[0]);
    if (wanted("ctl"))
        ctlReadStatus();
    return 0;
}
