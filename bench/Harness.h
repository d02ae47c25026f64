#pragma once

// What the benchmarks share: the panel on a pseudo-terminal, a flood writer, timing, CPU and
// memory readings, and the table they print into.
#include "link/TrafficRecord.h"
#include "link/clock/QtClock.h"
#include "link/settings/PortValues.h"
#include "link/settings/SettingsStore.h"
#include "link/transport/DevicePort.h"
#include "link/transport/SerialPort.h"
#include "windows/common/QtMessageBox.h"
#include "windows/panel/Form1.h"

#include <QPushButton>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Settings that open COM9 at 19200 baud; COM9 leads where $ZEKO_COM9 or `com9` says.
struct MemoryStore final : trv::SettingsStore {
    QString com9; // the port map's entry for COM9, when set
    QString portMapping(int portNo) override { return portNo == 9 ? com9 : QString(); }
    QString read(const QString& key, const QString& fallback) override;
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

// A pseudo-terminal whose device end is COM9 ($ZEKO_COM9); `master` is the far end.
struct Pty {
    int master = -1;
    QByteArray device;
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

// The panel as the program builds it, on the real line, timers and boxes.
struct Program {
    explicit Program(const QString& com9 = {}, const QString& log = {});
    MemoryStore store;
    trv::DevicePort serial{trv::PortMap(&store)};
    trv::QtClock clock;
    trv::QtMessageBox messages;
    trv::PortValues values;
    std::unique_ptr<trv::TrafficRecord> record;
    trv::Form1 form{{serial, store, clock, messages}, values};

    QPushButton* button(const char* name);
};

// A device end of a pseudo-terminal, opened non-blocking in raw mode.
int openRaw(const QByteArray& path);
// The device end of the pseudo-terminal (COM9).
int openRawDevice();

// A TCP connection from 127.0.0.`host` to 127.0.0.1:`port` without Nagle's delay, blocking;
// -1 when it cannot be made.
int connectFrom(int host, quint16 port);

// Runs the event loop, sleeping between events, for `ms` milliseconds.
void spin(int ms);
double percentile(std::vector<double> v, double p);
double msSince(Clock::time_point t0);
double msBetween(Clock::time_point from, Clock::time_point to);
std::int64_t monotonicNs();

// One row of the table.
void row(const char* what, const char* figure, const char* target);
// A row of the 50th and 99th percentiles of `samples`, in ms, with `extra` after them.
void percentilesRow(const char* what, const std::vector<double>& samples, const char* target,
                    const char* extra = "");
void header();

long residentKiB();
double threadCpuMs();
// Every thread's time on a CPU so far, in nanoseconds (the first field of each
// /proc/PID/task/*/schedstat); -1 when the process is gone.
std::int64_t processCpuNs(qint64 pid);

// Printable text with a carriage return every 20 characters, as a chatty device sends it.
struct FloodText {
    int n = 0;
    char next() { return ++n % 20 == 0 ? '\r' : char('!' + n % 90); }
};

// Writes 1920 characters a second (19200 baud) into `fd` in writes of `piece` characters,
// each at its due time, until `stop`.
void floodWriter(int fd, int piece, const std::atomic<bool>& stop);

struct FloodFigures {
    double share; // of the user-interface thread, in percent of wall time
    long growth;  // of resident memory, in KiB
};

// The panel in this process at full height showing a flood, after a STATUS press: the CPU
// share of its thread and the growth of resident memory over `seconds` after a 1 s warm-up.
FloodFigures floodOnce(int seconds, int piece, const QString& log = {});

} // namespace bench
