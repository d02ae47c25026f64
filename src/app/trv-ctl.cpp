#include "ctl/CtlCommands.h"

#include <QCoreApplication>
#include <cmath>
#include <csignal>
#include <cstdio>
#ifdef Q_OS_WIN
#include <chrono>
#include <thread>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

volatile std::sig_atomic_t interrupted = 0;

constexpr char kGaveUp[] = "trv-ctl: gave up: the run took longer than it may\n";

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        interrupted = 1;
        return TRUE;
    default:
        return FALSE;
    }
}

// The overall bound: whatever blocks, the run ends. Windows has no alarm(), so a thread that
// only sleeps keeps the time.
void startBound(unsigned seconds) {
    std::thread([seconds] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        std::fputs(kGaveUp, stderr);
        std::fflush(stderr);
        std::_Exit(trv::ctl::kNoReply);
    }).detach();
}

// Ctrl+C, Ctrl+Break and the console window closing end a hold cleanly.
void watchInterrupts() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }
#else
void onInterrupt(int) { interrupted = 1; }

void onAlarm(int) {
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kGaveUp, sizeof kGaveUp - 1);
    _exit(trv::ctl::kNoReply);
}

// The overall bound: whatever blocks, the run ends.
void startBound(unsigned seconds) {
    std::signal(SIGALRM, onAlarm);
    alarm(seconds);
}

// Ctrl+C and a polite kill end a hold cleanly, without another send.
void watchInterrupts() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}
#endif

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trv-ctl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    QString error;
    const auto options = trv::ctl::CtlOptions::parse(QCoreApplication::arguments().mid(1), error);
    if (!options) {
        err << "trv-ctl: " << error << "\nTry 'trv-ctl --help'.\n";
        return trv::ctl::kUsage;
    }
    if (options->help) {
        out << trv::ctl::CtlOptions::usage();
        return 0;
    }
    if (options->version) {
        out << "trv-ctl " << TRV_VERSION << '\n';
        return 0;
    }
    const double commands = std::max<qsizetype>(1, options->texts.size());
    const double bound =
        3 + commands * (options->timeoutMs / 1000.0 + 1) + options->holdSeconds + 5;
    startBound(unsigned(std::ceil(bound)));
    if (options->subcommand == QLatin1String("hold"))
        watchInterrupts();
    return trv::ctl::runCommand(*options, out, err, [] { return interrupted != 0; });
}
