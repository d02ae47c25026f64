// Measures the panel's timing on this machine: click to the line, hold cadence on the wire, a
// reception flood, the cost of one arrival against the buffer length, opening the command
// console, the cold start, a trv-ctl run, trv-bridge serving PJLink clients against trv-sim, and
// its web front end.
// Usage: trv-bench [--quick] [click] [hold] [flood [xcb|offscreen]] [record] [arrival] [console]
//                  [start] [ctl] [pjlink] [web] [fleet]
// Prints one table; see bench/README.md.
#include "Benchmarks.h"
#include "Harness.h"

#include <QApplication>
#include <string>

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (first == "--cold-start-child")
        return bench::coldStartChild(argc, argv);
    if (first == "--floor-child")
        return bench::floorChild(argc, argv);
    if (first == "--panel-child")
        return bench::panelChild(argc, argv);
    QApplication app(argc, argv);
    bool quick = false;
    for (int i = 1; i < argc; ++i)
        quick = quick || std::string(argv[i]) == "--quick";
    bench::header();
    const auto given = [&](const char* word) {
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]) == word)
                return true;
        }
        return false;
    };
    const auto wanted = [&](const char* section) {
        return given(section) || argc == (quick ? 2 : 1);
    };
    if (wanted("click"))
        bench::clickBench();
    if (wanted("hold"))
        bench::holdBench(quick ? 1000 : 5000);
    if (wanted("flood"))
        bench::floodBench(quick ? 3 : 10, given("xcb")         ? bench::Platforms::Xcb
                                          : given("offscreen") ? bench::Platforms::Offscreen
                                                               : bench::Platforms::Both);
    if (wanted("record"))
        bench::recordBench(quick ? 3 : 10);
    if (wanted("arrival"))
        bench::arrivalBench();
    if (wanted("console"))
        bench::consoleBench();
    if (wanted("start"))
        bench::startBench(argv[0]);
    if (wanted("ctl"))
        bench::ctlBench();
    if (wanted("pjlink"))
        bench::pjlinkBench(quick);
    if (wanted("web"))
        bench::webBench(quick);
    if (wanted("fleet"))
        bench::fleetBench(quick);
    return 0;
}
