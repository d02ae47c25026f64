#pragma once

#include "link/ReplyValue.h"
#include "link/service/LineStatistics.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace trv::service {
class ProjectorService;
}

namespace trv::metrics {

// What /metrics shows at one moment, gathered from the line's service and the front ends, and
// its text for Prometheus.
struct BridgeMetrics {
    bool lineUp = false;
    std::optional<ReplyValue::Status> power; // as the last status read said
    std::optional<int> lampHours;
    std::optional<std::array<double, 3>> temperatures;
    std::optional<double> valuesAgeS; // of the oldest of the polled values known
    service::LineStatistics statistics;
    int pjlinkConnections = 0;
    int httpSessions = 0;
    std::uint64_t pjlinkLoginFailures = 0;
    std::uint64_t httpLoginFailures = 0;
    int pollS = 0;
    std::string name, version, port;

    // The service's part: the line, the values and the counts; the rest is left as it is.
    void takeService(const service::ProjectorService& service, std::int64_t nowMs);
    std::string text() const;
};

} // namespace trv::metrics
