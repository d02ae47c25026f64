// The reception path (read, append, echo, decode) for one character arriving on a buffer of
// 0 to 1000 characters.
#include "Benchmarks.h"
#include "Harness.h"

#include "link/ProjectorLink.h"

#include <cstdio>

namespace bench {

void arrivalBench() {
    NullSerial serial;
    trv::QtClock clock;
    trv::ProjectorLink link(serial, clock);
    link.commandText = "CR0\r";
    for (const std::size_t length : {0u, 256u, 512u, 1000u}) {
        std::vector<double> samples;
        for (int run = 0; run < 200; ++run) {
            std::string text = "C00\r";
            link.Hyouji(text, 1);
            // After the send, which takes what is waiting as the last exchange's.
            serial.pending = std::string(length, 'a');
            if (length > 0)
                link.MSComm1_OnComm(trv::SerialPort::kCharactersReceived);
            serial.pending = "b";
            const auto t0 = Clock::now();
            link.MSComm1_OnComm(trv::SerialPort::kCharactersReceived);
            samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        char what[64];
        char figure[64];
        std::snprintf(what, sizeof what, "one arrival, buffer of %zu characters", length);
        std::snprintf(figure, sizeof figure, "%.1f us (median)", percentile(samples, 50));
        row(what, figure, "bounded (<= 1024)");
    }
}

} // namespace bench
