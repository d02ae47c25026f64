#include "ctl/CtlCommands.h"

#include "ctl/CtlSession.h"
#include "link/Catalogue.h"
#include "link/service/ExchangeJson.h"
#include "link/settings/StartupSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#ifdef Q_OS_WIN
#include "link/transport/WinPortList.h"
#else
#include <QSerialPortInfo>
#endif
#include <algorithm>

namespace trv::ctl {
namespace {

QString latin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

void print(QTextStream& out, const ExchangeResult& e, bool json) {
    if (json) {
        out << QJsonDocument(exchangeJson(e)).toJson(QJsonDocument::Compact) << '\n';
        return;
    }
    out << "TxD:" << latin1(e.tx) << '\n' << "RxD:" << latin1(e.rx) << '\n';
}

int list(const CtlOptions& options, QTextStream& out) {
    const struct {
        const char* name;
        std::span<const std::string_view> entries;
    } lists[] = {{"basic", Catalogue::basic()},
                 {"set", Catalogue::expand()},
                 {"read", Catalogue::expandRead()}};
    for (const auto& [name, entries] : lists) {
        if (!options.listName.isEmpty() && options.listName != QLatin1String(name))
            continue;
        for (const std::string_view entry : entries) {
            const QString text = QString::fromLatin1(entry.data(), qsizetype(entry.size()));
            if (text.contains(options.listWord, Qt::CaseInsensitive))
                out << name << '\t' << text << '\n';
        }
    }
    return kAnswered;
}

int ports(const CtlOptions& options, QTextStream& out) {
    QtSettingsStore store(options.profile);
    const PortMap map(&store);
    for (int n = 1; n <= 15; ++n) {
        const PortTarget target = map.targetFor(n);
        out << "COM" << n << '\t'
            << (target.kind == PortTarget::Kind::Invalid ? target.error : target.text) << '\n';
    }
    const auto field = [](const QString& text) {
        return text.isEmpty() ? QStringLiteral("-") : text;
    };
#ifdef Q_OS_WIN
    out << "\nSerial ports (port, description):\n";
    const QList<WinPortList::Port> found = WinPortList::available();
    if (found.isEmpty())
        out << "none found\n";
    for (const WinPortList::Port& port : found)
        out << port.name << '\t' << field(port.description) << '\n';
#else
    // The stable names a port map should use for adapters that come and go.
    QMap<QString, QString> byId;
    const QDir links(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : links.entryInfoList(QDir::System | QDir::Files))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());
    out << "\nSerial devices (device, description, maker, serial number, stable path):\n";
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    if (infos.isEmpty())
        out << "none found\n";
    for (const QSerialPortInfo& info : infos) {
        out << info.systemLocation() << '\t' << field(info.description()) << '\t'
            << field(info.manufacturer()) << '\t' << field(info.serialNumber()) << '\t'
            << field(byId.value(QFileInfo(info.systemLocation()).canonicalFilePath())) << '\n';
    }
#endif
    return kAnswered;
}

// Each profile with what it holds, in the words --port, --baud and --address take.
int profiles(QTextStream& out) {
    const QStringList names = QStringList{QString()} + QtSettingsStore::profiles();
    for (const QString& name : names) {
        QtSettingsStore store(name);
        const int portNo = StartupSettings::portNo(store);
        const std::string address = StartupSettings::unitAddress(store);
        out << (name.isEmpty() ? QStringLiteral("(default)") : name) << '\t'
            << (portNo == 0 ? QStringLiteral("-") : QStringLiteral("COM%1").arg(portNo)) << '\t'
            << (StartupSettings::baudCode(store) == 96 ? 9600 : 19200) << '\t'
            << (address.empty()     ? QStringLiteral("single")
                : address == "AFFF" ? QStringLiteral("all")
                                    : QString::fromStdString(address.substr(3)))
            << '\n';
    }
    return kAnswered;
}

} // namespace

int runCommand(const CtlOptions& options, QTextStream& out, QTextStream& err,
               const std::function<bool()>& interrupted) {
    if (options.subcommand == QLatin1String("list"))
        return list(options, out);
    if (options.subcommand == QLatin1String("ports"))
        return ports(options, out);
    if (options.subcommand == QLatin1String("profiles"))
        return profiles(out);

    CtlSession session(options);
    QObject::connect(&session, &CtlSession::recordFailed, &session, [&err](const QString& problem) {
        err << "trv-ctl: the traffic record cannot be written, going on without it: " << problem
            << '\n';
        err.flush();
    });
    QString reason;
    if (!session.open(reason)) {
        err << "trv-ctl: " << reason << '\n';
        return kPortFailed;
    }
    // What was done is printed first; nothing after the loss went out.
    const auto lost = [&] {
        out.flush();
        err << "trv-ctl: the link to " << session.where() << " was lost: " << session.lostReason()
            << '\n';
        return kPortFailed;
    };
    if (options.subcommand == QLatin1String("hold")) {
        int sends = 0, replies = 0;
        session.hold(options.texts[0], options.holdSeconds, interrupted, sends, replies);
        out << "sent " << options.texts[0] << ' ' << sends << " times, " << replies
            << " answered\n";
        if (session.lost())
            return lost();
        return replies > 0 ? kAnswered : kNoReply;
    }
    if (options.subcommand == QLatin1String("read")) {
        // Of several reads, each has its line and each message names its command.
        const bool several = options.texts.size() > 1;
        int exit = kAnswered;
        for (const QString& command : options.texts) {
            const QString about = several ? QStringLiteral(" to ") + command : QString();
            if (!session.unitAddress().isEmpty()) {
                err << "trv-ctl: note: " << session.unitAddress() << command
                    << " goes out with a unit address, and reads are decoded without one, as on "
                       "the panel: its reply will not be decoded\n";
                err.flush();
            }
            const ExchangeResult e = session.exchange(command);
            if (options.json && !e.sent.empty())
                print(out, e, true);
            else if (!options.json && e.decoded)
                out << latin1(*e.decoded) << '\n';
            else if (!options.json && several && !session.lost())
                out << '\n'; // line n answers the n-th name
            if (session.lost())
                return lost();
            if (!e.replied) {
                err << "trv-ctl: no reply" << about << " from " << session.where() << " within "
                    << options.timeoutMs << " ms\n";
                exit = std::max<int>(exit, kNoReply);
            } else if (!e.decoded) {
                err << "trv-ctl: the reply \"" << latin1(e.rx).trimmed() << "\"" << about
                    << " could not be decoded"
                    << (e.sent.size() > std::size_t(e.command.size()) + 1
                            ? " (reads are decoded without a unit address)"
                            : "")
                    << '\n';
                exit = std::max<int>(exit, kNotDecoded);
            }
        }
        return exit;
    }
    int exit = kAnswered;
    for (const QString& text : options.texts) {
        const ExchangeResult e = session.exchange(text);
        if (!e.sent.empty())
            print(out, e, options.json);
        if (session.lost())
            return lost();
        if (!e.replied) {
            err << "trv-ctl: no reply to " << text << " from " << session.where() << " within "
                << options.timeoutMs << " ms\n";
            exit = kNoReply;
        }
    }
    return exit;
}

} // namespace trv::ctl
