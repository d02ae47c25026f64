#pragma once

#include "ProjectorModel.h"

#include <optional>
#include <string>
#include <vector>

namespace trv::sim {

// Command-line options of trv-sim.
struct SimOptions {
    static constexpr double kLongestHangupSeconds = 365.0 * 24 * 3600;

    ModelOptions model;
    std::string link; // symbolic link to the device, made at start and removed at exit
    int baud = 19200;
    int delayMs = 0;         // before each reply
    bool silent = false;     // never answers
    bool split = false;      // one character at a time with short gaps
    double noise = 0;        // chance of a random byte before each reply byte
    bool flood = false;      // printable characters without end
    double hangupAfter = -1; // seconds until the line goes dead; negative: never
    bool trace = false;      // print each command received, after the device line
    bool help = false;
    bool version = false;

    // Nothing, with `error` set, when the arguments are not understood.
    static std::optional<SimOptions> parse(const std::vector<std::string>& args,
                                           std::string& error);
    static const char* usage();
};

} // namespace trv::sim
