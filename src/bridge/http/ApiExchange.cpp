// STUB for building the http branch alone: the real ApiExchange replaces this file at merge.
#include "bridge/http/ApiExchange.h"

namespace trv::http {

void ApiExchange::send(const QByteArray&, const service::Sender&,
                       std::function<void(ApiReply)> answer) {
    answer({501, R"({"error":"not built in"})", "application/json", {}});
}

void ApiExchange::read(const QByteArray&, const service::Sender&,
                       std::function<void(ApiReply)> answer) {
    answer({501, R"({"error":"not built in"})", "application/json", {}});
}

} // namespace trv::http
