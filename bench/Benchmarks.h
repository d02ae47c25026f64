#pragma once

// The benchmarks trv-bench runs, one file each; each prints its rows of the table.
namespace bench {

// STATUS clicks to the carriage return at the far end, directly and through ser2net.
void clickBench();
// The hold of ZOOM's up arrow: the cadence of the sends on the wire.
void holdBench(int holdMs);
// A reception flood: the panel's whole process against the plain poll-and-read loop,
// offscreen and on an X server; memory growth; the first character after a quiet line.
enum class Platforms { Both, Offscreen, Xcb };
void floodBench(int seconds, Platforms platforms);
// The same flood with the traffic record on and off.
void recordBench(int seconds);
// The reception path for one arrival against the buffer's length.
void arrivalBench();
// Opening the command list console.
void consoleBench();
// The program's start-up to its first window, in child processes of `self`.
void startBench(const char* self);
// trv-ctl read status against trv-sim.
void ctlBench();
// trv-bridge in front of trv-sim with PJLink clients.
void pjlinkBench(bool quick);
// trv-bridge's web front end: the API's and the event socket's own share, 64 sockets beside
// 64 PJLink pollers, and the panel page in chromium.
void webBench(bool quick);
// trv-bridge for a fleet: /metrics, the poll's cost, change to notification, 200 pollers with
// a scrape every second.
void fleetBench(bool quick);

// The child processes trv-bench starts from its own binary.
int coldStartChild(int argc, char** argv);
int floorChild(int argc, char** argv);
int panelChild(int argc, char** argv);

} // namespace bench
