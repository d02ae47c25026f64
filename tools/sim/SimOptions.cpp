#include "SimOptions.h"

#include <charconv>
#include <cmath>

namespace trv::sim {
namespace {

template <typename T> bool number(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

} // namespace

const char* SimOptions::usage() {
    return "Usage: trv-sim [options]\n"
           "A simulated TRV-M5400 projector on a pseudo-terminal. Prints the device path of its\n"
           "end as the first line, then runs until SIGINT or SIGTERM.\n"
           "\n"
           "Options:\n"
           "  --link PATH         also make a symbolic link PATH to the device (removed at exit)\n"
           "  --id N              unit number 1..4 (default 1): answers commands without an\n"
           "                      address and those for A00N; acts on AFFF without answering\n"
           "  --baud 9600|19200   line speed that paces the replies (default 19200)\n"
           "  --warmup S          seconds of \"40\" after power on (default 5)\n"
           "  --cooldown S        seconds of \"20\" after power off (default 5)\n"
           "  --lamp-hours N      lamp hours at start (default 1234)\n"
           "  --input N           input at start, 1..5 (default 1; 5 is the wireless/viewer "
           "input,\n"
           "                      which no command selects)\n"
           "  --fault KIND        temp, lamp or power: the status read answers 08, 21 or 10;\n"
           "                      while it runs, SIGUSR1 sets the next fault (none, temp, lamp,\n"
           "                      power, none ...) and SIGUSR2 none\n"
           "  --delay MS          wait before each reply\n"
           "  --silent            never answer\n"
           "  --split             send each reply one character at a time with short gaps\n"
           "  --noise RATE        insert a random byte before a reply byte with chance RATE\n"
           "  --flood             send printable characters continuously at line speed\n"
           "  --hangup-after S    close the line after S seconds (at most a year), as an "
           "unplugged\n"
           "                      adapter would\n"
           "  --trace             print each command received, one a line, on standard output,\n"
           "                      each change of the video mute as \"video mute on\" or\n"
           "                      \"video mute off\", and each change of fault by a signal as\n"
           "                      \"fault temp\" ... \"fault none\"\n"
           "  -h, --help          this text\n"
           "  --version           the program's version\n";
}

std::optional<SimOptions> SimOptions::parse(const std::vector<std::string>& args,
                                            std::string& error) {
    SimOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> const std::string* {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        const auto bad = [&](const std::string& v) {
            error = "bad value for " + arg + ": " + v;
            return std::nullopt;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--split") {
            options.split = true;
        } else if (arg == "--flood") {
            options.flood = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--link") {
            const std::string* v = value();
            if (v == nullptr)
                return std::nullopt;
            options.link = *v;
        } else if (arg == "--id" || arg == "--baud" || arg == "--warmup" || arg == "--cooldown" ||
                   arg == "--lamp-hours" || arg == "--delay" || arg == "--input") {
            const std::string* v = value();
            if (v == nullptr)
                return std::nullopt;
            int n = 0;
            if (!number(*v, n) || n < 0)
                return bad(*v);
            if (arg == "--id") {
                if (n < 1 || n > 4)
                    return bad(*v);
                options.model.id = n;
            } else if (arg == "--baud") {
                if (n != 9600 && n != 19200)
                    return bad(*v);
                options.baud = n;
            } else if (arg == "--warmup") {
                options.model.warmupSeconds = n;
            } else if (arg == "--cooldown") {
                options.model.cooldownSeconds = n;
            } else if (arg == "--lamp-hours") {
                options.model.lampHours = n;
            } else if (arg == "--input") {
                if (n < 1 || n > 5)
                    return bad(*v);
                options.model.input = n;
            } else {
                options.delayMs = n;
            }
        } else if (arg == "--fault") {
            const std::string* v = value();
            if (v == nullptr)
                return std::nullopt;
            if (*v != "temp" && *v != "lamp" && *v != "power")
                return bad(*v);
            options.model.fault = *v;
        } else if (arg == "--noise" || arg == "--hangup-after") {
            const std::string* v = value();
            if (v == nullptr)
                return std::nullopt;
            double d = 0;
            const double most = arg == "--noise" ? 1.0 : kLongestHangupSeconds;
            if (!number(*v, d) || !std::isfinite(d) || d < 0 || d > most)
                return bad(*v);
            (arg == "--noise" ? options.noise : options.hangupAfter) = d;
        } else {
            error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    return options;
}

} // namespace trv::sim
