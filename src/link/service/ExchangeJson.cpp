#include "link/service/ExchangeJson.h"

#include <QJsonArray>
#include <QString>

namespace trv {
namespace {

QString latin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

QJsonValue replyValueJson(const std::optional<ReplyValue>& value) {
    if (!value)
        return {};
    if (const auto* read = std::get_if<ReplyValue::StatusRead>(&value->read)) {
        const std::string_view word = ReplyValue::word(read->status);
        return QString::fromLatin1(word.data(), qsizetype(word.size()));
    }
    if (const auto* read = std::get_if<ReplyValue::InputRead>(&value->read))
        return read->number;
    if (const auto* read = std::get_if<ReplyValue::SettingRead>(&value->read))
        return latin1(read->words);
    if (const auto* read = std::get_if<ReplyValue::LampRead>(&value->read))
        return read->hours;
    const auto& celsius = std::get<ReplyValue::TemperatureRead>(value->read).celsius;
    return QJsonArray{celsius[0], celsius[1], celsius[2]};
}

QJsonObject exchangeJson(const ExchangeResult& e) {
    // The command as it was given, which is what went out after the unit address.
    return QJsonObject{
        {QStringLiteral("command"), QString::fromStdString(e.command)},
        {QStringLiteral("out"), latin1(e.sent)},
        {QStringLiteral("in"), latin1(e.received)},
        {QStringLiteral("tx"), latin1(e.tx)},
        {QStringLiteral("rx"), latin1(e.rx)},
        {QStringLiteral("decoded"), e.decoded ? QJsonValue(latin1(*e.decoded)) : QJsonValue()},
        {QStringLiteral("value"), replyValueJson(e.value)},
        {QStringLiteral("replied"), e.replied},
        {QStringLiteral("sentAtMs"), qint64(e.sentAtMs)},
        {QStringLiteral("replyMs"), e.replyMs >= 0 ? QJsonValue(qint64(e.replyMs)) : QJsonValue()}};
}

} // namespace trv
