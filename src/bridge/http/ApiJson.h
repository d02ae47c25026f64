#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace trv::service {
class ProjectorService;
}

namespace trv::http {

// The JSON of the read-only API: the panel's layout, the command catalogue and the status
// from the service's shared values.
class ApiJson {
public:
    // The reads GET /api/status?fresh=1 makes first, in this order.
    static constexpr const char* kStatusReads[] = {"CR0", "CR1", "CR3", "CR6", "CR4"};

    static QByteArray layout();
    static QByteArray catalogue();
    static QByteArray status(const service::ProjectorService& service, const QString& name,
                             std::int64_t nowMs);
    static QByteArray error(const QString& text);
};

} // namespace trv::http
