#pragma once

#include "Fakes.h"
#include "link/ProjectorLink.h"

#include <gtest/gtest.h>

namespace trv::testing {

// A link on an open fake line with the load's reply periods.
class LinkTest : public ::testing::Test {
protected:
    LinkTest() {
        serial.open();
        link.timer2().setInterval(1000);
        link.timer4().setInterval(1200);
    }
    // Sends `command` and a carriage return as a panel button does.
    void send(const char* command) {
        link.commandText = std::string(command) + "\r";
        link.Hyouji(link.commandText, 1);
    }

    FakeSerialPort serial;
    ManualClock clock;
    ProjectorLink link{serial, clock};
};

} // namespace trv::testing
