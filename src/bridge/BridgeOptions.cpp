#include "bridge/BridgeOptions.h"

#include "link/settings/PortValues.h"
#include "link/settings/ProfileName.h"
#include "link/transport/PortMap.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace trv::bridge {
namespace {

struct Key {
    const char* name;
    const char* valueName;
    const char* help;
};
// Each option is also a key of the configuration file.
constexpr Key kKeys[] = {
    {"port", "PORT",
     "the projector's line: COMn, a device path, tcp://HOST:PORT or "
     "rfc2217://HOST:PORT, or tcps:// or rfc2217s:// behind TLS (required)"},
    {"tls-ca-file", "FILE",
     "behind TLS: the CA of the server's certificate (default: the system's)"},
    {"tls-fingerprint", "SHA256", "behind TLS: accept only the certificate with this fingerprint"},
    {"tls-cert-file", "FILE", "behind TLS: client certificate for a server that demands one"},
    {"tls-key-file", "FILE", "behind TLS: its private key (default: in the certificate file)"},
    {"baud", "BAUD",
     "line speed, 9600 or 19200 (default: for COMn the speed the panel stored, else 19200)"},
    {"address", "ADDRESS", "unit address: single or a unit number 1 to 4 (default single)"},
    {"pjlink-listen", "HOST:PORT",
     "where to listen for PJLink clients (default 0.0.0.0:4352; "
     "[::]:4352 for IPv6 and IPv4; port 0 picks a free one; none: no PJLink)"},
    {"http-listen", "HOST:PORT",
     "where to serve the web panel and HTTP API (default none; without http-password-file "
     "only a loopback address such as 127.0.0.1:8080)"},
    {"http-password-file", "FILE",
     "file holding the web panel's password (default: none; PJLink's is not used)"},
    {"http-cert", "FILE", "web panel over HTTPS: its certificate (PEM), with http-key"},
    {"http-key", "FILE", "web panel over HTTPS: the certificate's private key (PEM)"},
    {"http-hosts", "NAMES",
     "further host names the web panel is reached by, separated by commas (default: its "
     "addresses only)"},
    {"name", "NAME", "the name answered to NAME ? (default TRV-M5400)"},
    {"password-file", "FILE", "file holding the PJLink password (default: no password)"},
    {"inputs", "MAP", "PJLink code of each input (default 1=11,2=12,3=31,4=51,5=52)"},
    {"cache-ms", "MS", "how long a status read answers for (default 1000)"},
    {"poll", "SECONDS",
     "read the status, input, lamp time and temperatures every SECONDS, 1 to 86400 "
     "(default 60; 0: never)"},
    {"input-names", "NAMES",
     "names of inputs 1 to 4 for Class 2 INNM ? (default 1=INPUT 1,2=INPUT 2,3=INPUT 3,"
     "4=INPUT 4)"},
    {"serial", "TEXT", "the serial number answered to SNUM ? (default: none, an empty answer)"},
    {"software-version", "VER",
     "the software version answered to SVER ? (default: none, an empty answer)"},
    {"lamp-model", "TEXT",
     "the replacement lamp's model numbers, separated by blanks, answered to RLMP ? (default: "
     "none)"},
    {"filter-model", "TEXT", "the same for the filter, answered to RFIL ? (default: none)"},
    {"max-per-address", "N",
     "connections from one address (an IPv6 /64) at a time, 1 to 64 (default 16)"},
    {"profile", "NAME",
     "COMn through the port map of trv-panel --profile NAME (default: the default one)"},
    {"udp", "on|off",
     "PJLink over UDP on the pjlink-listen address: searches and status notifications "
     "(default on; searches to ff02::1 reach an IPv6 pjlink-listen such as [::]:4352)"},
    {"udp-port", "PORT", "the UDP port of searches and notifications (default 4352; 0 picks one)"},
    {"notify", "HOST[:PORT]",
     "send status notifications there (port 4352 unless given); several separated by commas "
     "or the option repeated, at most 16"},
    {"mac", "MAC",
     "the MAC address answered to searches and notified, xx:xx:xx:xx:xx:xx (default: the "
     "network interface's)"},
};

constexpr int kMostNotifyTargets = 16;

// A notification target the UDP socket on `listen` could not send to, or empty.
QString unreachable(const pjlink::NotifyTarget& target, const BridgeOptions::Listen& listen) {
    const QHostAddress to(target.host);
    const QHostAddress& from = listen.host;
    if (to.isNull() || from == QHostAddress(QHostAddress::Any))
        return {};
    const bool v6 = to.protocol() == QAbstractSocket::IPv6Protocol;
    if (v6 != (from.protocol() == QAbstractSocket::IPv6Protocol))
        return QStringLiteral("notify %1 is not reachable from pjlink-listen %2 (another IP "
                              "version)")
            .arg(target.text(), listen.text);
    if (from.isLoopback() && !to.isLoopback())
        return QStringLiteral("notify %1 is not reachable from pjlink-listen %2 (this machine "
                              "only)")
            .arg(target.text(), listen.text);
    return {};
}

bool parseListen(const QString& text, BridgeOptions::Listen& listen) {
    if (text == QLatin1String("none")) {
        listen = BridgeOptions::Listen{false, QHostAddress(), 0, text};
        return true;
    }
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    QHostAddress address;
    if (!ok || port > 65535 || !address.setAddress(host))
        return false;
    // "::" takes IPv4 clients as well, where the system allows it.
    if (address == QHostAddress(QHostAddress::AnyIPv6))
        address = QHostAddress(QHostAddress::Any);
    listen = BridgeOptions::Listen{true, address, quint16(port), text};
    return true;
}

// Where a Class 2 text answered as configured goes, or nothing for another key.
QString* classTwoText(const QString& key, BridgeOptions& options) {
    const std::pair<const char*, QString*> texts[] = {
        {"serial", &options.serial},
        {"software-version", &options.softwareVersion},
        {"lamp-model", &options.lampModel},
        {"filter-model", &options.filterModel},
    };
    for (const auto& [name, text] : texts)
        if (key == QLatin1String(name))
            return text;
    return nullptr;
}

// Applies one setting, from either source; false with `error` when the value is bad.
bool apply(const QString& key, const QString& value, BridgeOptions& options, QString& error) {
    const auto bad = [&](const QString& why = {}) {
        error = QStringLiteral("bad value for %1: \"%2\"%3")
                    .arg(key, value, why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
        return false;
    };
    if (key == QLatin1String("port")) {
        const QString port = value.trimmed();
        if (const QString problem = comPortProblem(port); !problem.isEmpty())
            return bad(problem);
        const PortTarget target = PortTarget::parse(port);
        if (!options.comPort(port) && target.kind == PortTarget::Kind::Invalid)
            return bad(target.error);
        options.port = port;
    } else if (key == QLatin1String("baud")) {
        if (value != QLatin1String("9600") && value != QLatin1String("19200"))
            return bad(QStringLiteral("9600 or 19200"));
        options.baud = value.toInt();
    } else if (key == QLatin1String("address")) {
        if (value == QLatin1String("single"))
            options.address.clear();
        else if (value == QLatin1String("all"))
            return bad(QStringLiteral("with all units addressed none answers, and PJLink needs "
                                      "the answers: run one bridge a unit"));
        else if (value.size() == 1 && value >= QLatin1String("1") && value <= QLatin1String("4"))
            options.address = QStringLiteral("A00") + value;
        else
            return bad(QStringLiteral("single, all or 1 to 4"));
    } else if (key == QLatin1String("pjlink-listen")) {
        if (!parseListen(value.trimmed(), options.pjlinkListen))
            return bad(QStringLiteral("HOST:PORT with an IP address, or none"));
    } else if (key == QLatin1String("http-listen")) {
        if (!parseListen(value.trimmed(), options.httpListen))
            return bad(QStringLiteral("HOST:PORT with an IP address, or none"));
    } else if (key == QLatin1String("http-password-file")) {
        options.httpPasswordFile = value;
    } else if (key == QLatin1String("http-cert")) {
        options.httpCert = value.trimmed();
    } else if (key == QLatin1String("http-key")) {
        options.httpKey = value.trimmed();
    } else if (key == QLatin1String("http-hosts")) {
        QStringList names;
        for (const QString& name : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString trimmed = name.trimmed();
            // A Host header's name, with or without a port: nothing that could not be one.
            if (trimmed.isEmpty() || std::any_of(trimmed.begin(), trimmed.end(), [](QChar c) {
                    return !(c.isLetterOrNumber() && c.unicode() < 0x80) &&
                           !QStringLiteral(".-:[]").contains(c);
                }))
                return bad(QStringLiteral("host names separated by commas"));
            names.append(trimmed);
        }
        options.httpHosts = names;
    } else if (key == QLatin1String("name")) {
        // PJLink names are at most 64 characters of printable ASCII.
        if (value.size() > 64 || std::any_of(value.begin(), value.end(), [](QChar c) {
                return c.unicode() < 0x20 || c.unicode() > 0x7e;
            }))
            return bad(QStringLiteral("at most 64 characters of printable ASCII"));
        options.name = value;
    } else if (key == QLatin1String("profile")) {
        const QString problem = ProfileName::problem(value);
        if (!problem.isEmpty()) {
            error = QStringLiteral("bad value for profile: \"%1\" (%2)")
                        .arg(ProfileName::printable(value), problem);
            return false;
        }
        options.profile = value;
    } else if (key == QLatin1String("password-file")) {
        options.passwordFile = value;
    } else if (key == QLatin1String("inputs")) {
        std::string why;
        auto inputs = pjlink::InputMap::parse(value.toStdString(), why);
        if (!inputs)
            return bad(QString::fromStdString(why));
        options.inputs = *inputs;
    } else if (key == QLatin1String("input-names")) {
        std::string why;
        auto names = pjlink::PjlinkInputNames::parse(value.toStdString(), why);
        if (!names)
            return bad(QString::fromStdString(why));
        options.inputNames = *names;
    } else if (QString* text = classTwoText(key, options)) {
        // As PJLink carries them: SNUM and SVER 32 characters, RLMP and RFIL 128.
        const int limit = key.endsWith(QLatin1String("-model")) ? 128 : 32;
        if (value.size() > limit || std::any_of(value.begin(), value.end(), [](QChar c) {
                return c.unicode() < 0x20 || c.unicode() > 0x7e;
            }))
            return bad(QStringLiteral("at most %1 characters of printable ASCII").arg(limit));
        *text = value;
    } else if (key == QLatin1String("cache-ms")) {
        bool ok = false;
        const int ms = value.toInt(&ok);
        if (!ok || ms < 0 || ms > 60000)
            return bad(QStringLiteral("0 to 60000"));
        options.cacheMs = ms;
    } else if (key == QLatin1String("poll")) {
        bool ok = false;
        const int seconds = value.toInt(&ok);
        if (!ok || seconds < 0 || seconds > 86400)
            return bad(QStringLiteral("0 to 86400 seconds"));
        options.pollS = seconds;
    } else if (key == QLatin1String("max-per-address")) {
        bool ok = false;
        const int n = value.toInt(&ok);
        if (!ok || n < 1 || n > 64)
            return bad(QStringLiteral("1 to 64"));
        options.maxPerAddress = n;
    } else if (key.startsWith(QLatin1String("tls-"))) {
        if (!options.tls.keys.contains(key)) {
            error = QStringLiteral("unknown key \"%1\"").arg(key);
            return false;
        }
        if (!options.tls.set(key, value.trimmed()))
            return bad(QStringLiteral("a SHA-256 fingerprint: 64 hexadecimal digits, colons "
                                      "allowed"));
    } else if (key == QLatin1String("udp")) {
        const QString word = value.trimmed().toLower();
        if (QStringList{"on", "true", "yes", "1"}.contains(word))
            options.udp = true;
        else if (QStringList{"off", "false", "no", "0"}.contains(word))
            options.udp = false;
        else
            return bad(QStringLiteral("on or off"));
    } else if (key == QLatin1String("udp-port")) {
        bool ok = false;
        const uint port = value.trimmed().toUInt(&ok);
        if (!ok || port > 65535)
            return bad(QStringLiteral("0 to 65535"));
        options.udpPort = quint16(port);
    } else if (key == QLatin1String("notify")) {
        QList<pjlink::NotifyTarget> targets;
        for (const QString& item : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            QString why;
            const auto target = pjlink::NotifyTarget::parse(item, why);
            if (!target) {
                error =
                    QStringLiteral("bad value for %1: \"%2\" (%3)").arg(key, item.trimmed(), why);
                return false;
            }
            if (!targets.contains(*target))
                targets.append(*target);
        }
        if (targets.size() > kMostNotifyTargets)
            return bad(QStringLiteral("at most %1 targets").arg(kMostNotifyTargets));
        options.notify = targets;
    } else if (key == QLatin1String("mac")) {
        static const QRegularExpression mac(
            QStringLiteral("^[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}$"));
        const QString given = value.trimmed();
        if (!given.isEmpty() && !mac.match(given).hasMatch())
            return bad(QStringLiteral("six hexadecimal pairs, xx:xx:xx:xx:xx:xx"));
        options.mac = given.toLower().replace(QLatin1Char('-'), QLatin1Char(':'));
    } else if (key == QLatin1String("verbose")) {
        options.verbose = value == QLatin1String("true") || value == QLatin1String("1") ||
                          value == QLatin1String("yes");
    } else if (key == QLatin1String("listen")) {
        error = QStringLiteral("unknown key \"listen\" (it is now \"pjlink-listen\")");
        return false;
    } else {
        error = QStringLiteral("unknown key \"%1\"").arg(key);
        return false;
    }
    return true;
}

// Why `path` cannot be read as a settings file of at most `limit` bytes, or empty.
QString unreadable(const QString& path, qint64 limit) {
    const QFileInfo info(path);
    if (info.isDir())
        return QStringLiteral("it is a folder");
    // A device or a pipe is not opened at all: reading a pipe could wait for ever.
    if (info.exists() && !info.isFile())
        return QStringLiteral("not a regular file");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString why = file.errorString(); // "No such file or directory", ...
        return why.left(1).toLower() + why.mid(1);
    }
    if (file.size() > limit)
        return QStringLiteral("larger than %1 bytes").arg(limit);
    return {};
}

} // namespace

QString BridgeOptions::hostPort(const QHostAddress& host, quint16 port) {
    // Every address, IPv6 and IPv4 alike, is "::" to a socket, though Qt writes it "0.0.0.0".
    const QString address =
        host == QHostAddress(QHostAddress::Any) ? QStringLiteral("::") : host.toString();
    return (address.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(address) : address) +
           QLatin1Char(':') + QString::number(port);
}

std::optional<int> BridgeOptions::comPort(const QString& port) {
    const std::optional<int> n = comPortNumber(port);
    if (n && *n >= 1 && *n <= 15)
        return n;
    return std::nullopt;
}

QString BridgeOptions::usage() {
    QString text = QStringLiteral(
        "Usage: trv-bridge [options]\n"
        "Serves a TRV-M5400 projector on its RS-232C line to PJLink clients (Class 2, and\n"
        "Class 1 to those that speak only that) and, with --http-listen, to browsers (a web\n"
        "panel) and programs (an HTTP API).\n\n"
        "Options (each also a key of the configuration file, without the dashes):\n"
        "  --config FILE          read the settings from FILE (INI); options given here win\n");
    for (const Key& key : kKeys)
        text += QStringLiteral("  --%1 %2")
                    .arg(QLatin1String(key.name), QLatin1String(key.valueName))
                    .leftJustified(24) +
                QLatin1Char(' ') + QLatin1String(key.help) + QLatin1Char('\n');
    text += QStringLiteral(
        "  --verbose              log every request and every exchange on the line\n"
        "  --help, --version\n\n"
        "At start it prints one line per front end on standard output: \"pjlink HOST:PORT\",\n"
        "the address and port it listens on, then \"pjlink-udp HOST:PORT\" where it answers\n"
        "searches and sends notifications from, then \"http URL\" (http://HOST:PORT/, or\n"
        "https://) where the web panel is. Logs go to standard error. SIGHUP rereads the\n"
        "configuration file and the passwords (a changed web password ends every web session);\n"
        "the port, the listening addresses, udp and udp-port change with a restart.\n"
        "SIGTERM ends cleanly.\n");
    return text;
}

std::optional<BridgeOptions> BridgeOptions::parse(const QStringList& arguments, QString& error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption config(QStringLiteral("config"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({config, verbose, help, version});
    for (const Key& key : kKeys)
        parser.addOption(
            QCommandLineOption(QLatin1String(key.name), QString(), QLatin1String(key.valueName)));
    if (!parser.parse(QStringList{QStringLiteral("trv-bridge")} + arguments)) {
        error = parser.errorText();
        if (parser.unknownOptionNames().contains(QStringLiteral("listen")) &&
            error.endsWith(QLatin1Char('.')))
            error.insert(error.size() - 1, QStringLiteral(" (it is now --pjlink-listen)"));
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments()[0]);
        return std::nullopt;
    }
    BridgeOptions options;
    std::string ignored;
    options.inputs = *pjlink::InputMap::parse(pjlink::InputMap::kDefault, ignored);
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    if (options.help || options.version)
        return options;
    if (parser.isSet(config)) {
        options.configFile = parser.value(config);
        if (const QString why = unreadable(options.configFile, 1 << 20); !why.isEmpty()) {
            error = QStringLiteral("cannot read the configuration file %1: %2")
                        .arg(options.configFile, why);
            return std::nullopt;
        }
        QSettings file(options.configFile, QSettings::IniFormat);
        if (file.status() != QSettings::NoError) {
            error = QStringLiteral("%1 is not an INI file").arg(options.configFile);
            return std::nullopt;
        }
        for (const QString& key : file.allKeys()) {
            if (key.startsWith(QLatin1Char('#')))
                continue; // a commented-out line, as most INI files write them
            QVariant value = file.value(key);
            const QString text = value.typeId() == QMetaType::QStringList
                                     ? value.toStringList().join(QLatin1Char(','))
                                     : value.toString();
            if (!apply(key, text, options, error)) {
                error = QStringLiteral("%1: %2").arg(options.configFile, error);
                return std::nullopt;
            }
        }
    }
    for (const Key& key : kKeys) {
        const QString name = QLatin1String(key.name);
        // Notification targets may also come one an option each.
        const QString value = name == QLatin1String("notify")
                                  ? parser.values(name).join(QLatin1Char(','))
                                  : parser.value(name);
        if (parser.isSet(name) && !apply(name, value, options, error)) {
            // On the command line the option is named as it is typed there.
            error.replace(QStringLiteral("bad value for %1:").arg(name),
                          QStringLiteral("bad value for --%1:").arg(name));
            return std::nullopt;
        }
    }
    if (parser.isSet(verbose))
        options.verbose = true;
    if (options.port.isEmpty()) {
        error = QStringLiteral("no port given: --port, or port= in the configuration file");
        return std::nullopt;
    }
    if (options.httpCert.isEmpty() != options.httpKey.isEmpty()) {
        error = QStringLiteral("http-cert and http-key go together: HTTPS needs both");
        return std::nullopt;
    }
    if (options.httpListen.on && !options.httpListen.host.isLoopback() &&
        options.httpPasswordFile.isEmpty()) {
        error = QStringLiteral("http-listen %1 without http-password-file: the web panel "
                               "switches the projector, so beyond this machine (loopback) it "
                               "needs a password")
                    .arg(options.httpListen.text);
        return std::nullopt;
    }
    if (options.udp && options.pjlinkListen.on) {
        for (const pjlink::NotifyTarget& target : options.notify) {
            if (const QString why = unreachable(target, options.pjlinkListen); !why.isEmpty()) {
                error = why;
                return std::nullopt;
            }
        }
    }
    return options;
}

namespace {

// The first line of `path`; nothing with `error` when it cannot be read or is not 1 to
// `limit` bytes; `warning` when others may read it.
std::optional<QString> readSecret(const QString& path, int limit, QString& error,
                                  QString& warning) {
    if (path.isEmpty())
        return QString();
    if (const QString why = unreadable(path, 4096); !why.isEmpty()) {
        error = QStringLiteral("cannot read the password file %1: %2").arg(path, why);
        return std::nullopt;
    }
    QFile file(path);
    const QFileInfo info(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error =
            QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    if (info.permissions() & QFileDevice::ReadOther)
        warning =
            QStringLiteral("the password file %1 can be read by others (chmod 600 it)").arg(path);
    const QString password = QString::fromUtf8(file.readLine()).trimmed();
    if (password.isEmpty() || password.toUtf8().size() > limit) {
        error =
            QStringLiteral("the password in %1 must be 1 to %2 characters").arg(path).arg(limit);
        return std::nullopt;
    }
    return password;
}

} // namespace

std::optional<QString> BridgeOptions::readPassword(QString& error, QString& warning) const {
    // PJLink passwords are at most 32 characters.
    return readSecret(passwordFile, 32, error, warning);
}

std::optional<QString> BridgeOptions::readHttpPassword(QString& error, QString& warning) const {
    return readSecret(httpPasswordFile, 256, error, warning);
}

} // namespace trv::bridge
