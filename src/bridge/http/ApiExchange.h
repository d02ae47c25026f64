#pragma once

// STUB for building the http branch alone: the real ApiExchange replaces this file at merge.

#include "link/service/ProjectorService.h"
#include "link/service/Sender.h"

#include <QByteArray>
#include <functional>
#include <utility>
#include <vector>

namespace trv::http {

struct ApiReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    std::vector<std::pair<QByteArray, QByteArray>> headers;
};

// POST /api/send and POST /api/read (stub).
class ApiExchange {
public:
    explicit ApiExchange(service::ProjectorService& service) : service_(service) {}

    void send(const QByteArray& body, const service::Sender& sender,
              std::function<void(ApiReply)> answer);
    void read(const QByteArray& body, const service::Sender& sender,
              std::function<void(ApiReply)> answer);

private:
    service::ProjectorService& service_;
};

} // namespace trv::http
