#pragma once

#include "bridge/http/ApiReply.h"
#include "link/service/ProjectorService.h"

#include <QByteArray>
#include <functional>

namespace trv::http {

// The API's sends and reads: checks what a client asked for, so that nothing goes out unless
// it is a command the panel could send, and answers with each exchange as trv-ctl prints it.
class ApiExchange {
public:
    static constexpr int kMostReads = 5;

    explicit ApiExchange(service::ProjectorService& service);

    // POST /api/send: {"command":"C00","address":"A001"}, the address optional.
    void send(const QByteArray& body, const service::Sender& sender,
              std::function<void(ApiReply)> answer);
    // POST /api/read: {"names":["status","lamp"]}, one exchange each, in order.
    void read(const QByteArray& body, const service::Sender& sender,
              std::function<void(ApiReply)> answer);

private:
    service::ProjectorService& service_;
};

} // namespace trv::http
