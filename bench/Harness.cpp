#include "Harness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace bench {

QString MemoryStore::read(const QString& key, const QString& fallback) {
    if (key == QLatin1String("ComPort"))
        return QStringLiteral("9");
    if (key == QLatin1String("BaudRate"))
        return QStringLiteral("192");
    return fallback;
}

Pty::Pty() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        std::exit(1);
    }
    ::close(slave);
    device = name;
    qputenv("ZEKO_COM9", device);
}

Pty::~Pty() { ::close(master); }

Program::Program(const QString& com9, const QString& log) {
    store.com9 = com9;
    if (!log.isEmpty()) {
        record = std::make_unique<trv::TrafficRecord>(log);
        form.useRecord(*record);
    }
    form.start();
}

QPushButton* Program::button(const char* name) {
    return form.findChild<QPushButton*>(QString::fromLatin1(name));
}

int openRaw(const QByteArray& path) {
    const int device = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    tcgetattr(device, &raw);
    cfmakeraw(&raw);
    tcsetattr(device, TCSANOW, &raw);
    return device;
}

int openRawDevice() { return openRaw(qgetenv("ZEKO_COM9")); }

int connectFrom(int host, quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl(INADDR_LOOPBACK - 1 + std::uint32_t(host));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0 ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

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

double msSince(Clock::time_point t0) { return msBetween(t0, Clock::now()); }

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

void percentilesRow(const char* what, const std::vector<double>& samples, const char* target,
                    const char* extra) {
    char figure[96];
    std::snprintf(figure, sizeof figure, "%.3f / %.3f ms%s", percentile(samples, 50),
                  percentile(samples, 99), extra);
    row(what, figure, target);
}

std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void row(const char* what, const char* figure, const char* target) {
    std::printf("| %-44s | %-34s | %-14s |\n", what, figure, target);
    std::fflush(stdout);
}

void header() {
    std::printf("| %-44s | %-34s | %-14s |\n", "measure", "figure", "target");
    std::printf("|%s|%s|%s|\n", std::string(46, '-').c_str(), std::string(36, '-').c_str(),
                std::string(16, '-').c_str());
    std::fflush(stdout);
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

std::int64_t processCpuNs(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList names = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (names.isEmpty())
        return -1;
    std::int64_t total = 0;
    for (const QString& name : names) {
        QFile file(tasks + QLatin1Char('/') + name + QStringLiteral("/schedstat"));
        if (!file.open(QIODevice::ReadOnly))
            continue; // a thread that ended meanwhile
        total += file.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

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

FloodFigures floodOnce(int seconds, int piece, const QString& log) {
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

} // namespace bench
