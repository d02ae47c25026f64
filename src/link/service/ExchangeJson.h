#pragma once

#include "link/service/ExchangeResult.h"

#include <QJsonObject>
#include <QJsonValue>
#include <optional>

namespace trv {

// One exchange as the programs print and serve it: command, out, in, tx, rx, decoded, value,
// replied, sentAtMs and replyMs; bytes as Latin-1 text, what is missing as null.
QJsonObject exchangeJson(const ExchangeResult& exchange);
// The decoded reply as data: a status word, an input number, the setting's words, the lamp
// hours or the three temperatures; null without one.
QJsonValue replyValueJson(const std::optional<ReplyValue>& value);

} // namespace trv
