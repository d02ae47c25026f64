#pragma once

#include <cstdint>

namespace trv {

// A moment on the wall clock and the local zone's offset from UTC at that moment.
struct WallTime {
    std::int64_t utcMs = 0; // since 1970-01-01T00:00:00Z
    int offsetSeconds = 0;  // east of UTC
    bool operator==(const WallTime&) const = default;
};

} // namespace trv
