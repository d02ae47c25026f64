#pragma once

#include "link/clock/Clock.h"
#include "link/settings/SettingsStore.h"
#include "link/transport/SerialPort.h"
#include "windows/common/MessageBox.h"

namespace trv {

// Everything the windows reach outside the program through: the line, the store, timers and
// message boxes. The real program passes the Qt implementations, tests pass fakes.
struct Platform {
    SerialPort& serial;
    SettingsStore& store;
    Clock& clock;
    MessageBox& messages;
};

} // namespace trv
