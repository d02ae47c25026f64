#include "ctl/CtlOptions.h"

#include "link/settings/PortValues.h"
#include "link/settings/ProfileName.h"
#include "link/transport/PortMap.h"

#include <QCommandLineParser>
#include <algorithm>
#include <cmath>

namespace trv::ctl {
namespace {

struct ReadRow {
    const char* name;
    const char* command;
};
// The panel's decoded reads: STATUS, INPUT MODE, SETTING, LAMP TIME, TEMP.
constexpr ReadRow kReads[] = {
    {"status", "CR0"}, {"input", "CR1"}, {"setting", "CR4"}, {"lamp", "CR3"}, {"temp", "CR6"}};

// An option's name as it was typed: "--colour", "-x" or "--colour=red" for "colour".
QString asTyped(const QStringList& args, const QString& name) {
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            break;
        const QString bare = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
        if (arg.startsWith(u'-') && bare.section(u'=', 0, 0) == name)
            return arg;
    }
    return QStringLiteral("--") + name;
}

} // namespace

QString CtlOptions::usage() {
    return QStringLiteral(
        "Usage: trv-ctl [options] COMMAND [ARGUMENTS]\n"
        "Controls a TRV-M5400 projector on its RS-232C line, as the trv-panel does.\n"
        "\n"
        "Commands:\n"
        "  send TEXT...          send each command (e.g. C00, \"CF LAMPMODE FULL\") with the unit\n"
        "                        address and a carriage return, print what went out and came back\n"
        "  read NAME...          read and decode status, input, setting, lamp or temp, one line\n"
        "                        each in the order given (of several, an empty line for a\n"
        "                        reply not decoded)\n"
        "  hold TEXT SECONDS     repeat a command every 100 ms for SECONDS, from 0.1 (one send)\n"
        "                        to 3600 (Ctrl+C stops it)\n"
        "  list [basic|set|read] [WORD]\n"
        "                        the command catalogue, optionally one list and entries with WORD\n"
        "  ports                 what each COM number opens, and this machine's serial devices\n"
        "  profiles              each profile's port, speed and unit address, a line each,\n"
        "                        tab-separated: (default) first, then the profiles by name\n"
        "\n"
        "Options (by default the port, speed and unit address the panel stored):\n"
        "  --profile NAME        the stored settings of the profile NAME (as trv-panel --profile\n"
        "                        NAME keeps them) instead of the default ones\n"
        "  --port PORT           COM1 to COM15, a device path, tcp://HOST:PORT or\n"
        "                        rfc2217://HOST:PORT; tcps:// or rfc2217s:// behind TLS,\n"
        "                        checked as the [TLS] settings say\n"
        "  --baud 9600|19200     line speed (19200 when none is given or stored)\n"
        "  --address ADDRESS     single, all, or a unit number 1 to 4\n"
        "  --timeout MS          the reply window in milliseconds (default 1000)\n"
        "  --json                send and read: one JSON object per command; its \"value\" is\n"
        "                        the decoded read as data: status as on, standby, warm-up,\n"
        "                        cooling, power-fault, temperature-fault or lamp-fault; lamp\n"
        "                        hours and input as numbers; temp as an array of the three\n"
        "                        temperatures in deg C; setting as its words; else null\n"
        "  --log FILE            append a record of the line's traffic to FILE: a line per\n"
        "                        event, tab-separated: local time, port, TX, RX or --, the\n"
        "                        text as the panel draws it, the bytes in hex (instead of the\n"
        "                        stored [Log] File=)\n"
        "  -h, --help            this text\n"
        "  --version             the program's version\n"
        "\n"
        "Exit codes: 0 every command answered, 1 the port could not be opened or the link was\n"
        "lost during the run, 2 usage, 3 a command got no reply, 4 a read's reply could not be\n"
        "decoded (of several reads, the larger of 3 and 4). Reads are decoded as the panel\n"
        "decodes them, which is without a unit address: a read that goes out with one\n"
        "(--address 1 to 4, or a stored address) ends with 4. Nothing a run does changes the\n"
        "stored settings.\n");
}

QString CtlOptions::readCommand(const QString& name) {
    for (const ReadRow& row : kReads) {
        if (name == QLatin1String(row.name))
            return QLatin1String(row.command);
    }
    return {};
}

QString CtlOptions::commandProblem(const QString& text) {
    if (text.isEmpty())
        return QStringLiteral("an empty command");
    if (text.size() > kLongestCommand)
        return QStringLiteral("longer than %1 characters").arg(kLongestCommand);
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return QStringLiteral("holds a control or non-ASCII character (U+%1)")
                .arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return {};
}

std::optional<CtlOptions> CtlOptions::parse(const QStringList& args, QString& error) {
    QCommandLineParser parser;
    // One dash and a word is one name: "-1" is reported as the unknown option -1, not as an
    // unknown option 1 run together with others; "-h" is the one short name.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("PORT"));
    const QCommandLineOption baud(QStringLiteral("baud"), {}, QStringLiteral("BAUD"));
    const QCommandLineOption address(QStringLiteral("address"), {}, QStringLiteral("ADDRESS"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), {}, QStringLiteral("MS"));
    const QCommandLineOption profile(QStringLiteral("profile"), {}, QStringLiteral("NAME"));
    parser.addOptions({help, version, json, port, baud, address, timeout, profile});
    const QCommandLineOption log(QStringLiteral("log"), {}, QStringLiteral("FILE"));
    parser.addOption(log);
    if (!parser.parse(QStringList{QStringLiteral("trv-ctl")} + args)) {
        if (!parser.unknownOptionNames().isEmpty())
            error = QStringLiteral("unknown option: %1")
                        .arg(asTyped(args, parser.unknownOptionNames().constFirst()));
        else // a missing or unexpected value, as "Missing value after '--port'."
            error = parser.errorText().left(1).toLower() +
                    parser.errorText().mid(1).chopped(parser.errorText().endsWith(u'.') ? 1 : 0);
        return std::nullopt;
    }

    CtlOptions options;
    const auto bad = [&](const QCommandLineOption& option, const QString& value,
                         const QString& why = {}) {
        error = QStringLiteral("bad value for --%1: \"%2\"%3")
                    .arg(option.names().constLast(), value,
                         why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
        return std::nullopt;
    };
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.json = parser.isSet(json);
    if (parser.isSet(profile)) {
        options.profile = parser.value(profile);
        const QString problem = ProfileName::problem(options.profile);
        if (!problem.isEmpty())
            return bad(profile, ProfileName::printable(options.profile), problem);
    }
    if (parser.isSet(port)) {
        const QString v = parser.value(port);
        options.port = v.trimmed();
        if (options.port.isEmpty())
            return bad(port, v);
        if (const QString problem = comPortProblem(options.port); !problem.isEmpty())
            return bad(port, v, problem);
    }
    if (parser.isSet(baud)) {
        const QString v = parser.value(baud);
        if (v != QLatin1String("9600") && v != QLatin1String("19200"))
            return bad(baud, v);
        options.baud = v.toInt();
    }
    if (parser.isSet(address)) {
        const QString v = parser.value(address);
        if (v == QLatin1String("single"))
            options.address.clear();
        else if (v == QLatin1String("all"))
            options.address = QStringLiteral("AFFF");
        else if (v.size() == 1 && v >= QLatin1String("1") && v <= QLatin1String("4"))
            options.address = QStringLiteral("A00") + v;
        else
            return bad(address, v);
        options.addressGiven = true;
    }
    if (parser.isSet(log)) {
        options.logFile = parser.value(log);
        if (options.logFile.isEmpty())
            return bad(log, options.logFile);
    }
    if (parser.isSet(timeout)) {
        const QString v = parser.value(timeout);
        bool ok = false;
        const int ms = v.toInt(&ok);
        if (!ok || ms < 1 || ms > kLongestTimeoutMs)
            return bad(timeout, v);
        options.timeoutMs = ms;
    }
    if (options.help || options.version)
        return options;
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty()) {
        error = QStringLiteral("no command given");
        return std::nullopt;
    }
    options.subcommand = rest.takeFirst();
    const QString& sub = options.subcommand;
    const auto checkTexts = [&]() -> bool {
        for (const QString& text : options.texts) {
            const QString problem = commandProblem(text);
            if (!problem.isEmpty()) {
                QString shown;
                for (const QChar c : text.left(40))
                    shown += c.unicode() < 0x20 || c.unicode() > 0x7e
                                 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                                 : QString(c);
                error = QStringLiteral("command \"%1\" %2").arg(shown, problem);
                return false;
            }
        }
        return true;
    };
    if (sub == QLatin1String("send")) {
        if (rest.isEmpty()) {
            error = QStringLiteral("send needs at least one command");
            return std::nullopt;
        }
        options.texts = rest;
        if (!checkTexts())
            return std::nullopt;
    } else if (sub == QLatin1String("read")) {
        const auto unknown = std::find_if(rest.cbegin(), rest.cend(), [](const QString& name) {
            return readCommand(name).isEmpty();
        });
        if (rest.isEmpty() || unknown != rest.cend()) {
            error =
                QStringLiteral("read needs one or more of status, input, setting, lamp, temp%1")
                    .arg(rest.isEmpty() ? QString() : QStringLiteral(", not \"%1\"").arg(*unknown));
            return std::nullopt;
        }
        options.readNames = rest;
        for (const QString& name : rest)
            options.texts << readCommand(name);
    } else if (sub == QLatin1String("hold")) {
        if (rest.size() != 2) {
            error = QStringLiteral("hold needs a command and a number of seconds");
            return std::nullopt;
        }
        options.texts = {rest[0]};
        if (!checkTexts())
            return std::nullopt;
        bool ok = false;
        const double seconds = rest[1].toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < kShortestHoldSeconds ||
            seconds > kLongestHoldSeconds) {
            error = QStringLiteral("bad hold time: \"%1\" (seconds from %2, one send, to %3)")
                        .arg(rest[1])
                        .arg(kShortestHoldSeconds)
                        .arg(kLongestHoldSeconds);
            return std::nullopt;
        }
        options.holdSeconds = seconds;
    } else if (sub == QLatin1String("list")) {
        if (!rest.isEmpty() &&
            (rest[0] == QLatin1String("basic") || rest[0] == QLatin1String("set") ||
             rest[0] == QLatin1String("read")))
            options.listName = rest.takeFirst();
        if (rest.size() > 1) {
            error = QStringLiteral("list takes one word, not \"%1\"").arg(rest.join(u' '));
            return std::nullopt;
        }
        options.listWord = rest.value(0);
    } else if (sub == QLatin1String("ports") || sub == QLatin1String("profiles")) {
        if (!rest.isEmpty()) {
            error = QStringLiteral("%1 takes no arguments, not \"%2\"").arg(sub, rest[0]);
            return std::nullopt;
        }
    } else {
        error = QStringLiteral("unknown command: %1").arg(sub);
        return std::nullopt;
    }
    return options;
}

} // namespace trv::ctl
