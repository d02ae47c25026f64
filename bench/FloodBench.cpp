// A reception flood measured from outside, as a user runs the panel: the panel's process at
// full height after a STATUS press, offscreen and on an X server, beside a process that only
// polls the device and reads what is there, with the same writer on the far end. Every
// thread's time on a CPU comes from /proc/PID/task/*/schedstat before and after.
#include "Benchmarks.h"
#include "Harness.h"
#include "XDisplay.h"

#include "link/panel/PanelLayout.h"
#include "link/settings/QtSettingsStore.h"
#include "windows/common/Twips.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <optional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace bench {
namespace {

// A process's time on a CPU: all its threads, and its user-interface (first) thread with the
// number of times that thread was put on a CPU, which is about how often it woke.
struct CpuReading {
    std::int64_t processNs = -1;
    std::int64_t mainNs = 0;
    std::int64_t mainRuns = 0;
};

CpuReading readCpu(qint64 pid) {
    CpuReading reading;
    reading.processNs = processCpuNs(pid);
    QFile file(QStringLiteral("/proc/%1/task/%1/schedstat").arg(pid));
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> fields = file.readAll().trimmed().split(' ');
        reading.mainNs = fields.value(0).toLongLong();
        reading.mainRuns = fields.value(2).toLongLong();
    }
    return reading;
}

struct Round {
    double process = 0; // share of wall time, percent
    double main = 0;    // the same, the first thread alone
    double wakes = 0;   // of the first thread, a second
    double server = -1; // the X server's share meanwhile, when it is ours
};

// Floods `master` for a 1 s warm-up and `seconds` more, reading `pid`'s CPU time over the
// latter (and the X server's, `serverPid`, when not 0).
std::optional<Round> measure(qint64 pid, qint64 serverPid, int master, int piece, int seconds) {
    std::atomic<bool> stop{false};
    std::thread writer([&] { floodWriter(master, piece, stop); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const CpuReading before = readCpu(pid);
    const std::int64_t serverBefore = serverPid ? processCpuNs(serverPid) : -1;
    const std::int64_t t0 = monotonicNs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const CpuReading after = readCpu(pid);
    const std::int64_t serverAfter = serverPid ? processCpuNs(serverPid) : -1;
    const double wall = double(monotonicNs() - t0);
    stop = true;
    writer.join();
    if (before.processNs < 0 || after.processNs < 0)
        return std::nullopt;
    Round round;
    round.process = 100.0 * double(after.processNs - before.processNs) / wall;
    round.main = 100.0 * double(after.mainNs - before.mainNs) / wall;
    round.wakes = double(after.mainRuns - before.mainRuns) * 1e9 / wall;
    if (serverBefore >= 0 && serverAfter >= 0)
        round.server = 100.0 * double(serverAfter - serverBefore) / wall;
    return round;
}

// Waits up to `ms` for `text` among what `fd` gives; true when it came.
bool readUntil(int fd, const char* text, int ms) {
    std::string seen;
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
        pollfd poller{fd, POLLIN, 0};
        if (poll(&poller, 1, 50) <= 0)
            continue;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            seen.append(buffer, std::size_t(n));
        if (seen.find(text) != std::string::npos)
            return true;
    }
    return false;
}

bool readyLine(QProcess& child) {
    while (!child.canReadLine()) {
        if (!child.waitForReadyRead(10000))
            return false;
    }
    return child.readLine().trimmed() == "ready";
}

QString self() { return QCoreApplication::applicationFilePath(); }

std::optional<Round> floorRound(const XDisplay* display, int seconds, int piece) {
    Pty pty;
    QProcess child;
    child.start(self(), {QStringLiteral("--floor-child"), QString::fromLocal8Bit(pty.device)});
    if (!child.waitForStarted(5000) || !readyLine(child))
        return std::nullopt;
    std::optional<Round> round =
        measure(child.processId(), display ? display->serverPid() : 0, pty.master, piece, seconds);
    child.kill();
    child.waitForFinished(5000);
    return round;
}

// Where a user clicks STATUS: the middle of the button, in the window's coordinates.
QPoint statusButton() {
    for (const trv::ButtonRow& row : trv::PanelLayout::buttons()) {
        if (row.name == "Command44" && row.frame.empty())
            return trv::twipsRect(row.left, row.top, row.width, row.height).center();
    }
    return {};
}

// The panel's own process at full height with STATUS pressed: trv-panel itself on an X
// server; offscreen, where nothing can reach a window from outside, this program's
// --panel-child, which builds the panel as trv-panel does and presses the keys itself.
std::optional<Round> panelRound(XDisplay* display, int seconds, int piece, QString& problem) {
    Pty pty;
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("ZEKO"));
    QFile settings(dir.path() + QStringLiteral("/ZEKO/ZEKO.conf"));
    if (!settings.open(QIODevice::WriteOnly) ||
        settings.write("[StartUP]\nComPort=9\nBaudRate=192\n") < 0)
        return std::nullopt;
    settings.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path());
    env.insert(QStringLiteral("ZEKO_COM9"), QString::fromLocal8Bit(pty.device));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"),
               display ? QStringLiteral("xcb") : QStringLiteral("offscreen"));
    if (display)
        env.insert(QStringLiteral("DISPLAY"), display->name());
    QProcess panel;
    panel.setProcessEnvironment(env);
    panel.setStandardErrorFile(dir.path() + QStringLiteral("/panel.log"));
    const auto stop = [&] {
        panel.kill();
        panel.waitForFinished(5000);
        if (!problem.isEmpty()) {
            QFile log(dir.path() + QStringLiteral("/panel.log"));
            if (log.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "trv-bench: the panel said: %s\n", log.readAll().constData());
        }
    };
    if (!display) {
        panel.start(self(), {QStringLiteral("--panel-child")});
        if (!panel.waitForStarted(5000) || !readyLine(panel)) {
            problem = QStringLiteral("the panel did not start");
            stop();
            return std::nullopt;
        }
    } else {
        panel.start(QCoreApplication::applicationDirPath() + QStringLiteral("/trv-panel"), {});
        panel.waitForStarted(5000);
        std::uint32_t window = 0;
        for (int i = 0; i < 200 && window == 0 && panel.state() == QProcess::Running; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            window = display->windowOf(panel.processId());
        }
        if (window == 0) {
            problem = QStringLiteral("no trv-panel window on %1").arg(display->name());
            stop();
            return std::nullopt;
        }
        const int full =
            trv::twipsToPixels(trv::PanelLayout::kFullHeight - trv::PanelLayout::kDecorationHeight);
        display->controlKey(window, 'h'); // Ctrl+H: the lower half with the traffic lines
        for (int i = 0; i < 100 && display->size(window).height() < full; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (display->size(window).height() < full) {
            problem = QStringLiteral("Ctrl+H did not open the lower half");
            stop();
            return std::nullopt;
        }
        display->click(window, statusButton());
    }
    if (!readUntil(pty.master, "CR0\r", 5000)) {
        problem = QStringLiteral("STATUS did not reach the line");
        stop();
        return std::nullopt;
    }
    std::optional<Round> round =
        measure(panel.processId(), display ? display->serverPid() : 0, pty.master, piece, seconds);
    stop();
    return round;
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
        samples.push_back(msSince(t0));
    }
    return samples;
}

template <typename Field> double median(const std::vector<Round>& rounds, Field field) {
    std::vector<double> values;
    for (const Round& round : rounds)
        values.push_back(round.*field);
    return percentile(values, 50);
}

// Floor and panel rounds alternate, three of each per write size; medians.
void floodOn(XDisplay* display, int seconds) {
    const char* platform = display ? "xcb" : "offscreen";
    for (const int piece : {1, 16}) {
        std::vector<Round> panel, floor;
        QString problem;
        for (int round = 0; round < 3 && problem.isEmpty(); ++round) {
            if (const auto figures = floorRound(display, seconds, piece))
                floor.push_back(*figures);
            if (const auto figures = panelRound(display, seconds, piece, problem))
                panel.push_back(*figures);
        }
        char what[64], figure[64], target[32];
        std::snprintf(what, sizeof what, "flood, %d-char writes, %s: panel process", piece,
                      platform);
        if (panel.empty() || floor.empty()) {
            row(what, qPrintable(problem.isEmpty() ? QStringLiteral("no figures") : problem), "");
            continue;
        }
        const double share = median(panel, &Round::process);
        const double floorShare = median(floor, &Round::process);
        std::snprintf(figure, sizeof figure, "%.2f %% (%.2f x the floor)", share,
                      share / floorShare);
        std::snprintf(target, sizeof target, "<= %.1f x floor", piece == 1 ? 1.0 : 2.0);
        row(what, figure, target);
        std::snprintf(figure, sizeof figure, "%.2f %%, %.0f wakes/s, %.0f us each",
                      median(panel, &Round::main), median(panel, &Round::wakes),
                      median(panel, &Round::main) * 1e4 / median(panel, &Round::wakes));
        row("  of which the user-interface thread", figure, "");
        std::snprintf(what, sizeof what, "  floor: poll-and-read process, %d-char", piece);
        std::snprintf(figure, sizeof figure, "%.2f %%, %.0f wakes/s (%zu x %d s)", floorShare,
                      median(floor, &Round::wakes), floor.size(), seconds);
        row(what, figure, "(machine)");
        if (display && display->serverPid() != 0) {
            std::snprintf(figure, sizeof figure, "%.2f %% / %.2f %%", median(panel, &Round::server),
                          median(floor, &Round::server));
            row("  the X server meanwhile: panel / floor", figure, "");
        }
    }
}

} // namespace

void floodBench(int seconds, Platforms platforms) {
    if (platforms != Platforms::Xcb)
        floodOn(nullptr, seconds);
    XDisplay display;
    if (platforms == Platforms::Offscreen) {
    } else if (QString problem; display.start(problem)) {
        floodOn(&display, seconds);
    } else {
        row("flood under xcb", qPrintable(problem), "");
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

// The floor's process: polls the device given and reads what is there, until it is killed.
int floorChild(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const int device = openRaw(argv[2]);
    if (device < 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    char buffer[4096];
    for (;;) {
        pollfd fd{device, POLLIN, 0};
        if (poll(&fd, 1, 100) > 0)
            while (::read(device, buffer, sizeof buffer) > 0) {
            }
    }
}

// The panel as trv-panel builds it on its stored settings, at full height (Ctrl+H) with STATUS
// clicked, until it is killed.
int panelChild(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    trv::QtSettingsStore store;
    trv::DevicePort serial{trv::PortMap(&store)};
    trv::QtClock clock;
    trv::QtMessageBox messages;
    trv::PortValues values;
    trv::Form1 form({serial, store, clock, messages}, values);
    form.start();
    while (form.windowHandle() == nullptr || !form.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    QTest::keyClick(form.windowHandle(), Qt::Key_H, Qt::ControlModifier);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command44")), Qt::LeftButton);
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}

} // namespace bench
