#pragma once

#include "listen/LogSummary.h"
#include "listen/LoginBackoff.h"

namespace trv {
class Clock;
}

namespace trv::listen {

// What every listener of the program shares: the clock, the login back-off per address and
// the summarised log, so that a peer meets the same limits whichever front end it talks to.
class ListenGuard {
public:
    ListenGuard(Clock& clock, LogSummary::Sink sink)
        : clock_(clock), backoff_(clock), log_(clock, std::move(sink)) {}

    Clock& clock() { return clock_; }
    LoginBackoff& backoff() { return backoff_; }
    LogSummary& log() { return log_; }

private:
    Clock& clock_;
    LoginBackoff backoff_;
    LogSummary log_;
};

} // namespace trv::listen
