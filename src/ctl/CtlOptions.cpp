#include "CtlOptions.h"

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

} // namespace

QString CtlOptions::usage() {
    return QStringLiteral(
        "Usage: trv-ctl [options] COMMAND [ARGUMENTS]\n"
        "Controls a TRV-M5400 projector on its RS-232C line, as the trv-panel does.\n"
        "\n"
        "Commands:\n"
        "  send TEXT...          send each command (e.g. C00, \"CF LAMPMODE FULL\") with the unit\n"
        "                        address and a carriage return, print what went out and came back\n"
        "  read NAME             read and decode status, input, setting, lamp or temp\n"
        "  hold TEXT SECONDS     repeat a command every 100 ms for SECONDS (Ctrl+C stops it)\n"
        "  list [basic|set|read] [WORD]\n"
        "                        the command catalogue, optionally one list and entries with WORD\n"
        "  ports                 what each COM number opens, and this machine's serial devices\n"
        "\n"
        "Options (by default the port, speed and unit address the panel stored):\n"
        "  --port PORT           COMn, a device path, tcp://HOST:PORT or rfc2217://HOST:PORT\n"
        "  --baud 9600|19200     line speed\n"
        "  --address ADDRESS     single, all, or a unit number 1 to 4\n"
        "  --timeout MS          the reply window in milliseconds (default 1000)\n"
        "  --json                send and read: one JSON object per command\n"
        "  --help, --version\n"
        "\n"
        "Exit codes: 0 every command answered, 1 the port could not be opened, 2 usage,\n"
        "3 a command got no reply, 4 a read's reply could not be decoded.\n"
        "Reads are decoded as the panel decodes them, which is without a unit address.\n"
        "Nothing a run does changes the stored settings.\n");
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
    CtlOptions options;
    QStringList rest;
    bool literal = false; // after "--" every argument is a word, even one starting with "--"
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("%1 needs a value").arg(arg);
                return std::nullopt;
            }
            return args[++i];
        };
        const auto bad = [&](const QString& v) {
            error = QStringLiteral("bad value for %1: \"%2\"").arg(arg, v);
            return std::nullopt;
        };
        if (literal || !arg.startsWith(QLatin1String("--"))) {
            rest << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            literal = true;
            continue;
        }
        if (arg == QLatin1String("--help")) {
            options.help = true;
        } else if (arg == QLatin1String("--version")) {
            options.version = true;
        } else if (arg == QLatin1String("--json")) {
            options.json = true;
        } else if (arg == QLatin1String("--port")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            if (v->trimmed().isEmpty())
                return bad(*v);
            options.port = v->trimmed();
        } else if (arg == QLatin1String("--baud")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            if (*v != QLatin1String("9600") && *v != QLatin1String("19200"))
                return bad(*v);
            options.baud = v->toInt();
        } else if (arg == QLatin1String("--address")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            if (*v == QLatin1String("single"))
                options.address.clear();
            else if (*v == QLatin1String("all"))
                options.address = QStringLiteral("AFFF");
            else if (v->size() == 1 && *v >= QLatin1String("1") && *v <= QLatin1String("4"))
                options.address = QStringLiteral("A00") + *v;
            else
                return bad(*v);
            options.addressGiven = true;
        } else if (arg == QLatin1String("--timeout")) {
            const auto v = value();
            if (!v)
                return std::nullopt;
            bool ok = false;
            const int ms = v->toInt(&ok);
            if (!ok || ms < 1 || ms > kLongestTimeoutMs)
                return bad(*v);
            options.timeoutMs = ms;
        } else {
            error = QStringLiteral("unknown option: %1").arg(arg);
            return std::nullopt;
        }
    }
    if (options.help || options.version)
        return options;
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
        if (rest.size() != 1 || readCommand(rest[0]).isEmpty()) {
            error = QStringLiteral("read needs one of status, input, setting, lamp, temp%1")
                        .arg(rest.isEmpty() ? QString()
                                            : QStringLiteral(", not \"%1\"").arg(rest.join(u' ')));
            return std::nullopt;
        }
        options.readName = rest[0];
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
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > kLongestHoldSeconds) {
            error = QStringLiteral("bad hold time: \"%1\" (seconds from 0 to %2)")
                        .arg(rest[1])
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
    } else if (sub == QLatin1String("ports")) {
        if (!rest.isEmpty()) {
            error = QStringLiteral("ports takes no arguments, not \"%1\"").arg(rest[0]);
            return std::nullopt;
        }
    } else {
        error = QStringLiteral("unknown command: %1").arg(sub);
        return std::nullopt;
    }
    return options;
}

} // namespace trv::ctl
