#pragma once

#include <QByteArray>
#include <utility>
#include <vector>

namespace trv::http {

// One answer of the JSON API, for the route that asked to write it out.
struct ApiReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    std::vector<std::pair<QByteArray, QByteArray>> headers;
};

} // namespace trv::http
