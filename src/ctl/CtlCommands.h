#pragma once

#include "ctl/CtlOptions.h"

#include <QTextStream>
#include <functional>

namespace trv::ctl {

// Exit codes of trv-ctl.
enum Exit { kAnswered = 0, kPortFailed = 1, kUsage = 2, kNoReply = 3, kNotDecoded = 4 };

// Runs one checked command line, printing results on `out` and diagnostics on `err`.
// `interrupted` tells a hold that Ctrl+C was pressed.
int runCommand(const CtlOptions& options, QTextStream& out, QTextStream& err,
               const std::function<bool()>& interrupted);

} // namespace trv::ctl
