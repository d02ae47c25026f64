#include "ctl/CtlCommands.h"

#include <QCoreApplication>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupted = 0;
void onInterrupt(int) { interrupted = 1; }

// The overall bound: whatever blocks, the run ends.
void onAlarm(int) {
    const char message[] = "trv-ctl: gave up: the run took longer than it may\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, message, sizeof message - 1);
    _exit(trv::ctl::kNoReply);
}

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
    std::signal(SIGALRM, onAlarm);
    alarm(unsigned(std::ceil(bound)));
    if (options->subcommand == QLatin1String("hold")) {
        // A hold ends cleanly, without another send, on Ctrl+C or a polite kill.
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
    }
    return trv::ctl::runCommand(*options, out, err, [] { return interrupted != 0; });
}
