#pragma once

#include "link/ProjectorLink.h"
#include "link/TrafficLine.h"
#include "link/service/ServiceEvent.h"

#include <QJsonObject>
#include <cstdint>
#include <optional>
#include <string>

// The service's events as the messages a page's WebSocket receives. `client` is the id of the
// page's own sender: what it sent and its own hold are "mine".
namespace trv::http {

// {"up","port","reason","retryMs"}
QJsonObject lineJson(const service::LineState& line);
// {"tx","rx","status","ack","cr","space"}
QJsonObject displayJson(const ProjectorLink::Display& display);
// {"active":false}, or {"active":true,"command","who","mine"}
QJsonObject holdJson(const service::HoldState& hold, std::uint64_t client);
// {"type":"traffic","dir","text","hex","time"} and on a send "who" and "mine".
QJsonObject trafficJson(const TrafficLine& line, const service::Sender& sender,
                        std::uint64_t client);
// A line of the service's record ("time\tport\tdir\ttext\thex\n") as a traffic message, without
// who sent it, which the record does not keep; nothing when it is not such a line.
std::optional<QJsonObject> recordLineJson(const std::string& line);
// The message for `event` with its "type", or nothing for an event pages are not told of.
std::optional<QJsonObject> eventJson(const service::ServiceEvent& event, std::uint64_t client);

} // namespace trv::http
