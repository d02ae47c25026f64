#pragma once

#include <cstddef>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace trv::testing {

// The test's end of a line under test (a pseudo-terminal's master, a pipe's far end): what the
// projector would write, and what reached it.
class FarEnd {
public:
#ifdef _WIN32
    using Handle = HANDLE;
#else
    using Handle = int;
#endif
    explicit FarEnd(Handle handle) : handle_(handle) {}

    // Writes all of `bytes` at once; false when the line took less.
    bool write(const std::string& bytes);
    // What arrives, running the event loop until `count` bytes have come or `ms` have passed.
    std::string read(std::size_t count, int ms = 5000);

private:
    // Whatever is waiting, without blocking.
    std::string readWaiting();

    Handle handle_;
};

} // namespace trv::testing
