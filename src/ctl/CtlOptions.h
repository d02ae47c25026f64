#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace trv::ctl {

// The command line of trv-ctl, checked: anything here is safe to act on.
struct CtlOptions {
    static constexpr int kLongestCommand = 256;
    static constexpr int kLongestTimeoutMs = 60000;
    static constexpr double kShortestHoldSeconds = 0.1; // one send
    static constexpr double kLongestHoldSeconds = 3600;

    QString profile; // --profile: whose stored settings; empty: the default ones
    QString port;    // --port: COM1..COM15, a device path or a network address; empty: stored
    int baud = 0;    // --baud: 9600 or 19200; 0: stored
    QString address; // --address as a unit address ("", "AFFF", "A001".."A004")
    bool addressGiven = false;
    int timeoutMs = 1000; // --timeout: the reply window
    bool json = false;
    bool help = false;
    bool version = false;

    QString subcommand;    // send, read, hold, list, ports, profiles
    QStringList texts;     // send and read: the commands; hold: the one command
    QStringList readNames; // read, in the order given
    double holdSeconds = 0;
    QString listName; // list: basic, set, read or empty for all
    QString listWord;
    QString logFile; // --log: the traffic record; empty: the stored one, if any

    // Nothing, with `error` naming the bad argument, when the command line is not usable.
    static std::optional<CtlOptions> parse(const QStringList& args, QString& error);
    static QString usage();
    // The read command for a name of `read`, or empty.
    static QString readCommand(const QString& name);
    // Why a command text cannot be sent as one command, or empty when it can.
    static QString commandProblem(const QString& text);
};

} // namespace trv::ctl
