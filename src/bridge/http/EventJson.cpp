#include "bridge/http/EventJson.h"

#include <QStringList>

namespace trv::http {
namespace {

// The echoes are the line's bytes, one character each.
QString latin1(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

// Reasons and port names come from the system in UTF-8; anything else is taken byte by byte.
QString text(const std::string& bytes) {
    const QByteArray raw = QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size()));
    QString decoded = QString::fromUtf8(raw);
    return decoded.toUtf8() == raw ? decoded : latin1(bytes);
}

bool mine(const service::Sender& sender, std::uint64_t client) {
    return client != 0 && sender.id == client;
}

QString direction(TrafficLine::Direction direction) {
    switch (direction) {
    case TrafficLine::Direction::Tx:
        return QStringLiteral("TX");
    case TrafficLine::Direction::Rx:
        return QStringLiteral("RX");
    case TrafficLine::Direction::Event:
        break;
    }
    return QStringLiteral("--");
}

QJsonObject typed(const char* type, QJsonObject object) {
    object.insert(QStringLiteral("type"), QLatin1String(type));
    return object;
}

} // namespace

QJsonObject lineJson(const service::LineState& line) {
    return {{QStringLiteral("up"), line.up},
            {QStringLiteral("port"), text(line.port)},
            {QStringLiteral("reason"), text(line.reason)},
            {QStringLiteral("retryMs"), qint64(line.retryMs)}};
}

QJsonObject displayJson(const ProjectorLink::Display& display) {
    return {{QStringLiteral("tx"), latin1(display.tx)},
            {QStringLiteral("rx"), latin1(display.rx)},
            {QStringLiteral("status"), latin1(display.status)},
            {QStringLiteral("ack"), display.legendAck},
            {QStringLiteral("cr"), display.legendCr},
            {QStringLiteral("space"), display.legendSpace}};
}

QJsonObject holdJson(const service::HoldState& hold, std::uint64_t client) {
    if (!hold.active)
        return {{QStringLiteral("active"), false}};
    return {{QStringLiteral("active"), true},
            {QStringLiteral("command"), latin1(hold.command)},
            {QStringLiteral("who"), QString::fromStdString(hold.holder.label())},
            {QStringLiteral("mine"), mine(hold.holder, client)}};
}

QJsonObject trafficJson(const TrafficLine& line, const service::Sender& sender,
                        std::uint64_t client) {
    QJsonObject object{
        {QStringLiteral("type"), QStringLiteral("traffic")},
        {QStringLiteral("dir"), direction(line.direction)},
        {QStringLiteral("text"),
         line.direction == TrafficLine::Direction::Event ? text(line.text) : latin1(line.text)},
        {QStringLiteral("hex"), QString::fromStdString(TrafficLine::hex(line.bytes))},
        {QStringLiteral("time"), QString::fromStdString(TrafficLine::isoTime(line.time))}};
    if (line.direction == TrafficLine::Direction::Tx) {
        object.insert(QStringLiteral("who"), QString::fromStdString(sender.label()));
        object.insert(QStringLiteral("mine"), mine(sender, client));
    }
    return object;
}

std::optional<QJsonObject> recordLineJson(const std::string& line) {
    QString whole = latin1(line);
    if (whole.endsWith(QLatin1Char('\n')))
        whole.chop(1);
    const QStringList fields = whole.split(QLatin1Char('\t'));
    if (fields.size() != 5)
        return std::nullopt;
    const QString& way = fields[2];
    if (way != QLatin1String("TX") && way != QLatin1String("RX") && way != QLatin1String("--"))
        return std::nullopt;
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("traffic")},
                       {QStringLiteral("dir"), way},
                       {QStringLiteral("text"), way == QLatin1String("--")
                                                    ? text(fields[3].toLatin1().toStdString())
                                                    : fields[3]},
                       {QStringLiteral("hex"), fields[4]},
                       {QStringLiteral("time"), fields[0]}};
}

std::optional<QJsonObject> eventJson(const service::ServiceEvent& event, std::uint64_t client) {
    switch (event.kind) {
    case service::ServiceEvent::Kind::Traffic:
        return trafficJson(event.traffic, event.sender, client);
    case service::ServiceEvent::Kind::Display:
        return typed("display", displayJson(event.display));
    case service::ServiceEvent::Kind::Line:
        return typed("line", lineJson(event.line));
    case service::ServiceEvent::Kind::Hold:
        return typed("hold", holdJson(event.hold, client));
    case service::ServiceEvent::Kind::Values:
        break;
    }
    return std::nullopt;
}

} // namespace trv::http
