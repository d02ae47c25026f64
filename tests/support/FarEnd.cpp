#include "support/FarEnd.h"

#include "support/Spin.h"

#include <algorithm>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

namespace trv::testing {

bool FarEnd::write(const std::string& bytes) {
#ifdef _WIN32
    DWORD written = 0;
    return WriteFile(handle_, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
           written == bytes.size();
#else
    return ::write(handle_, bytes.data(), bytes.size()) == ssize_t(bytes.size());
#endif
}

std::string FarEnd::read(std::size_t count, int ms) {
    std::string received;
    spinUntil(
        [&] {
            received += readWaiting();
            return received.size() >= count;
        },
        ms);
    return received;
}

std::string FarEnd::readWaiting() {
    char buffer[256];
#ifdef _WIN32
    DWORD waiting = 0, got = 0;
    if (PeekNamedPipe(handle_, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0 &&
        ReadFile(handle_, buffer, std::min<DWORD>(waiting, sizeof buffer), &got, nullptr))
        return std::string(buffer, got);
#else
    pollfd fd{handle_, POLLIN, 0};
    if (::poll(&fd, 1, 0) > 0) {
        const ssize_t n = ::read(handle_, buffer, sizeof buffer);
        if (n > 0)
            return std::string(buffer, std::size_t(n));
    }
#endif
    return {};
}

} // namespace trv::testing
