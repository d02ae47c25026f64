#include "bridge/BridgeOptions.h"
#include "bridge/DeviceWatch.h"
#include "bridge/http/HttpFront.h"
#include "bridge/metrics/BridgeMetrics.h"
#include "bridge/pjlink/PjlinkNotifier.h"
#include "bridge/pjlink/PjlinkProjector.h"
#include "bridge/pjlink/PjlinkServer.h"
#include "bridge/pjlink/PjlinkUdp.h"
#include "link/clock/QtClock.h"
#include "link/service/Poller.h"
#include "link/service/ProjectorService.h"
#include "link/settings/PortValues.h"
#include "link/settings/QtSettingsStore.h"
#include "link/settings/StartupSettings.h"
#include "link/transport/DevicePort.h"
#include "listen/ListenGuard.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using trv::bridge::BridgeOptions;
namespace pjlink = trv::bridge::pjlink;

int signalPipe[2] = {-1, -1};

// Signals are handed to the event loop through a socket, the one thing a handler may safely do.
void onSignal(int number) {
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void logLine(const QString& line) {
    std::fprintf(stderr, "trv-bridge: %s\n", qPrintable(line));
    std::fflush(stderr);
}

trv::service::ProjectorService::Settings serviceSettings(const BridgeOptions& options) {
    trv::service::ProjectorService::Settings settings;
    settings.port = options.port.toStdString();
    settings.address = options.address.toStdString();
    return settings;
}

pjlink::PjlinkProjector::Settings projectorSettings(const BridgeOptions& options) {
    pjlink::PjlinkProjector::Settings settings;
    settings.name = options.name.toStdString();
    settings.inputs = options.inputs;
    settings.inputNames = options.inputNames;
    settings.serial = options.serial.toStdString();
    settings.softwareVersion = options.softwareVersion.toStdString();
    settings.lampModel = options.lampModel.toStdString();
    settings.filterModel = options.filterModel.toStdString();
    settings.cacheMs = options.cacheMs;
    return settings;
}

pjlink::PjlinkUdp::Settings udpSettings(const BridgeOptions& options) {
    pjlink::PjlinkUdp::Settings settings;
    settings.mac = options.mac;
    settings.notify = options.notify;
    settings.verbose = options.verbose;
    return settings;
}

// The password, or nothing when the options name a file that cannot be used.
std::optional<QString> password(const BridgeOptions& options) {
    QString error, warning;
    const std::optional<QString> password = options.readPassword(error, warning);
    if (!warning.isEmpty())
        logLine(QStringLiteral("warning: %1").arg(warning));
    if (!password)
        logLine(error);
    else if (password->isEmpty() && options.listensBeyondLoopback())
        logLine(QStringLiteral("notice: listening on %1 without a password: anyone who reaches it "
                               "can switch the projector")
                    .arg(options.pjlinkListen.text));
    return password;
}

// The web panel's password, or nothing when the options name a file that cannot be used.
std::optional<QString> httpPassword(const BridgeOptions& options) {
    QString error, warning;
    const std::optional<QString> password = options.readHttpPassword(error, warning);
    if (!warning.isEmpty())
        logLine(QStringLiteral("warning: %1").arg(warning));
    if (!password)
        logLine(error);
    return password;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("trv-bridge"));
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    QString error;
    std::optional<BridgeOptions> options = BridgeOptions::parse(arguments, error);
    if (!options) {
        std::fprintf(stderr, "trv-bridge: %s\nTry 'trv-bridge --help'.\n", qPrintable(error));
        return 2;
    }
    if (options->help) {
        std::fputs(qPrintable(BridgeOptions::usage()), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("trv-bridge %s\n", TRV_VERSION);
        return 0;
    }
    std::optional<QString> secret = password(*options);
    if (!secret)
        return 2;
    std::optional<QString> httpSecret = httpPassword(*options);
    if (!httpSecret)
        return 2;
    std::optional<QSslConfiguration> httpTls;
    if (options->httpListen.on && !options->httpCert.isEmpty()) {
        httpTls = trv::http::HttpFront::loadTls(options->httpCert, options->httpKey, error);
        if (!httpTls) {
            logLine(error);
            return 2;
        }
    }

    // The line: COM n through the same port map as the panel, or a device or address.
    trv::QtSettingsStore store(options->profile);
    trv::DevicePort port{trv::PortMap(&store)};
    const std::optional<int> comPort = BridgeOptions::comPort(options->port);
    if (comPort)
        port.setPortNumber(*comPort);
    else
        port.setTarget(trv::PortTarget::parse(options->port));
    // The speed: given; else for COM n the one the panel stored, as trv-ctl takes it; else 19200.
    const std::uint8_t baudCode = options->baud == 9600    ? 96
                                  : options->baud == 19200 ? 192
                                  : comPort                ? trv::StartupSettings::baudCode(store)
                                                           : 192;
    port.setTls(options->tls);
    port.setSettings(trv::lineSettingsFor(baudCode));
    // Signals are taken from before the start lines on: one sent on reading them waits in the
    // pipe for the event loop, so a reload asked for at once never ends the daemon.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        logLine(QStringLiteral("cannot watch for signals"));
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(number, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    trv::QtClock clock;
    // The one owner of the line; the front ends below each reach the projector through it.
    trv::service::ProjectorService line(
        port, clock, serviceSettings(*options),
        [](const std::string& text) { logLine(QString::fromStdString(text)); });
    line.setVerbose(options->verbose);
    pjlink::PjlinkProjector projector(line, projectorSettings(*options));
    // The values every front end and the metrics show, read without anyone asking.
    trv::service::Poller poller(line, clock, options->pollS);
    QString name = options->name;
    // A local device that comes back is opened at once, not at the next try.
    const trv::PortTarget target =
        comPort ? trv::PortMap(&store).targetFor(*comPort) : trv::PortTarget::parse(options->port);
    std::unique_ptr<trv::bridge::DeviceWatch> watch;
    if (target.kind == trv::PortTarget::Kind::Device) {
        watch = std::make_unique<trv::bridge::DeviceWatch>(target.path);
        QObject::connect(watch.get(), &trv::bridge::DeviceWatch::appeared, &line,
                         &trv::service::ProjectorService::deviceAppeared);
    }

    pjlink::PjlinkServer::Options serverOptions;
    serverOptions.password = *secret;
    serverOptions.verbose = options->verbose;
    serverOptions.maxPerAddress = options->maxPerAddress;
    // One set of rules for every listener: the back-off after failed logins, the summarised log.
    trv::listen::ListenGuard guard(clock, logLine);
    guard.log().setVerbose(options->verbose);
    // The front ends, each on its own listen key; one turned off is not made at all.
    std::unique_ptr<pjlink::PjlinkServer> server;
    if (options->pjlinkListen.on) {
        server = std::make_unique<pjlink::PjlinkServer>(projector, guard, serverOptions);
        if (!server->listen(options->pjlinkListen.host, options->pjlinkListen.port, error)) {
            logLine(
                QStringLiteral("cannot listen on %1: %2").arg(options->pjlinkListen.text, error));
            return 1;
        }
        const QString address = BridgeOptions::hostPort(server->address(), server->port());
        std::printf("pjlink %s\n", qPrintable(address));
        std::fflush(stdout);
        logLine(QStringLiteral("listening on %1 (PJLink) for %2").arg(address, options->port));
    } else {
        logLine(QStringLiteral("no PJLink clients served (pjlink-listen none); driving %1")
                    .arg(options->port));
    }
    // PJLink over UDP beside it: searches answered and status notifications sent, both from
    // the address that serves PJLink.
    std::unique_ptr<pjlink::PjlinkUdp> udp;
    std::unique_ptr<pjlink::PjlinkNotifier> notifier;
    if (server && options->udp) {
        udp = std::make_unique<pjlink::PjlinkUdp>(guard, udpSettings(*options));
        if (!udp->bind(options->pjlinkListen.host, options->udpPort, error)) {
            logLine(QStringLiteral("cannot listen on UDP port %1 of %2: %3")
                        .arg(options->udpPort)
                        .arg(options->pjlinkListen.host.toString(), error));
            return 1;
        }
        const QString address = BridgeOptions::hostPort(udp->address(), udp->port());
        std::printf("pjlink-udp %s\n", qPrintable(address));
        std::fflush(stdout);
        QStringList targets;
        for (const pjlink::NotifyTarget& target : options->notify)
            targets << target.text();
        logLine(QStringLiteral("PJLink searches answered on %1 (UDP); notifications to %2")
                    .arg(address, targets.isEmpty() ? QStringLiteral("nobody")
                                                    : targets.join(QStringLiteral(", "))));
        notifier = std::make_unique<pjlink::PjlinkNotifier>(
            line, options->inputs,
            [&udp](const pjlink::NotifyRules::Notice& notice) { udp->notify(notice); });
    }
    std::unique_ptr<trv::http::HttpFront> http;
    if (options->httpListen.on) {
        trv::http::HttpFront::Settings httpSettings;
        httpSettings.name = options->name;
        httpSettings.password = *httpSecret;
        httpSettings.hosts = options->httpHosts;
        httpSettings.tls = httpTls;
        http = std::make_unique<trv::http::HttpFront>(line, guard, httpSettings);
        http->setMetrics([&] {
            trv::metrics::BridgeMetrics metrics;
            metrics.takeService(line, clock.nowMs());
            metrics.pjlinkConnections = server ? server->connectionCount() : 0;
            metrics.httpSessions = int(http->sessions().live());
            metrics.pjlinkLoginFailures = guard.backoff().failures("pjlink");
            metrics.httpLoginFailures = guard.backoff().failures("http");
            metrics.pollS = poller.period();
            metrics.name = name.toStdString();
            metrics.version = TRV_VERSION;
            return metrics.text();
        });
        if (!http->listen(options->httpListen.host, options->httpListen.port, error)) {
            logLine(QStringLiteral("cannot listen on %1: %2").arg(options->httpListen.text, error));
            return 1;
        }
        std::printf("http %s\n", qPrintable(http->url()));
        std::fflush(stdout);
        logLine(QStringLiteral("web panel and HTTP API on %1%2")
                    .arg(http->url(),
                         httpSecret->isEmpty() ? QStringLiteral(" (no password)") : QString()));
    }
    QSocketNotifier signalWatch(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalWatch, &QSocketNotifier::activated, &app, [&] {
        char number = 0;
        if (::read(signalPipe[0], &number, 1) != 1)
            return;
        if (number != SIGHUP) {
            // Replies on their way go out first; a client that takes none is not waited for.
            logLine(QStringLiteral("ending"));
            // Each front end closes its own clients; the end comes when all have.
            auto open = std::make_shared<int>(int(bool(server)) + int(bool(http)));
            const auto oneClosed = [open] {
                if (--*open == 0)
                    QCoreApplication::quit();
            };
            if (*open == 0) {
                QCoreApplication::quit();
                return;
            }
            QTimer::singleShot(2000, &app, &QCoreApplication::quit);
            if (server) {
                QObject::connect(server.get(), &pjlink::PjlinkServer::closed, &app, oneClosed);
                server->closeAll();
            }
            if (http) {
                QObject::connect(http.get(), &trv::http::HttpFront::closed, &app, oneClosed);
                http->closeAll();
            }
            return;
        }
        // Rereads the file; what the command line said still wins.
        std::optional<BridgeOptions> reread = BridgeOptions::parse(arguments, error);
        std::optional<QString> newSecret = reread ? password(*reread) : std::nullopt;
        std::optional<QString> newHttpSecret = newSecret ? httpPassword(*reread) : std::nullopt;
        if (!reread || !newSecret || !newHttpSecret) {
            logLine(QStringLiteral("configuration not reread: %1").arg(error));
            return;
        }
        port.setTls(reread->tls); // its files are read at the next connection
        trv::service::ProjectorService::Settings lineSettings = serviceSettings(*reread);
        lineSettings.port = line.settings().port; // the port changes with a restart
        line.setSettings(lineSettings);
        line.setVerbose(reread->verbose);
        projector.setSettings(projectorSettings(*reread));
        poller.setPeriod(reread->pollS);
        name = reread->name;
        serverOptions.password = *newSecret;
        serverOptions.verbose = reread->verbose;
        serverOptions.maxPerAddress = reread->maxPerAddress;
        if (server)
            server->setOptions(serverOptions);
        if (http) {
            http->setPassword(*newHttpSecret); // a changed one ends every session
            http->setHosts(reread->httpHosts);
        }
        if (udp) {
            udp->setSettings(udpSettings(*reread)); // notify and mac
            notifier->setInputs(reread->inputs);
        }
        guard.log().setVerbose(reread->verbose);
        logLine(QStringLiteral("configuration reread (the port, the listening addresses, udp and "
                               "udp-port change with a restart)"));
    });
    // Ready: told once the reload is wired, so that one asked for on hearing it is handled.
    if (notifier)
        notifier->serving();
    line.start();

    const int status = QCoreApplication::exec();
    guard.log().flush();
    port.close();
    logLine(QStringLiteral("ended"));
    return status;
}
