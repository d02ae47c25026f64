#include "bridge/http/ApiJson.h"

#include "link/Catalogue.h"
#include "link/ReplyValue.h"
#include "link/panel/PanelLayout.h"
#include "link/service/ProjectorService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <span>

namespace trv::http {
namespace {

QString text(std::string_view s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString hex(Rgb colour) {
    return QStringLiteral("#%1%2%3")
        .arg(colour.r, 2, 16, QLatin1Char('0'))
        .arg(colour.g, 2, 16, QLatin1Char('0'))
        .arg(colour.b, 2, 16, QLatin1Char('0'));
}

QString faceWord(Face face) {
    switch (face) {
    case Face::On:
        return QStringLiteral("on");
    case Face::Off:
        return QStringLiteral("off");
    case Face::Teal:
        return QStringLiteral("teal");
    case Face::Enter:
        return QStringLiteral("enter");
    case Face::Pointer:
        return QStringLiteral("pointer");
    case Face::Read:
        return QStringLiteral("read");
    case Face::Standard:
        break;
    }
    return QStringLiteral("standard");
}

QJsonValue arrowWord(Arrow arrow) {
    const std::string_view name = PanelLayout::arrowName(arrow);
    if (name.empty())
        return QJsonValue::Null;
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

QJsonArray strings(std::span<const std::string_view> entries) {
    QJsonArray array;
    for (const std::string_view entry : entries)
        array.append(text(entry));
    return array;
}

QJsonValue asJson(const ReplyValue& value) {
    if (const auto* read = std::get_if<ReplyValue::StatusRead>(&value.read))
        return text(ReplyValue::word(read->status));
    if (const auto* read = std::get_if<ReplyValue::InputRead>(&value.read))
        return read->number;
    if (const auto* read = std::get_if<ReplyValue::SettingRead>(&value.read))
        return text(read->words);
    if (const auto* read = std::get_if<ReplyValue::LampRead>(&value.read))
        return read->hours;
    const auto& celsius = std::get<ReplyValue::TemperatureRead>(value.read).celsius;
    return QJsonArray{celsius[0], celsius[1], celsius[2]};
}

} // namespace

QByteArray ApiJson::layout() {
    QJsonArray frames;
    for (const FrameRow& row : PanelLayout::frames()) {
        if (row.frame.empty())
            continue;
        frames.append(QJsonObject{{QStringLiteral("name"), text(row.frame)},
                                  {QStringLiteral("title"), text(row.title)},
                                  {QStringLiteral("caption"), text(row.caption)},
                                  {QStringLiteral("left"), row.left},
                                  {QStringLiteral("top"), row.top},
                                  {QStringLiteral("width"), row.width},
                                  {QStringLiteral("height"), row.height},
                                  {QStringLiteral("titleAtLeft"), row.titleAtLeft}});
    }
    QJsonArray buttons;
    for (const ButtonRow& row : PanelLayout::buttons()) {
        // The plain buttons keep the window's own face, a light grey.
        const Rgb face =
            row.face == Face::Standard ? Rgb{224, 224, 224} : PanelLayout::faceColour(row.face);
        buttons.append(QJsonObject{{QStringLiteral("name"), text(row.name)},
                                   {QStringLiteral("frame"), text(row.frame)},
                                   {QStringLiteral("caption"), text(row.caption)},
                                   {QStringLiteral("command"), text(row.command)},
                                   {QStringLiteral("hold"), row.holdIndex != 0},
                                   {QStringLiteral("face"), faceWord(row.face)},
                                   {QStringLiteral("colour"), hex(face)},
                                   {QStringLiteral("textColour"), hex({0, 0, 0})},
                                   {QStringLiteral("arrow"), arrowWord(row.arrow)},
                                   {QStringLiteral("left"), row.left},
                                   {QStringLiteral("top"), row.top},
                                   {QStringLiteral("width"), row.width},
                                   {QStringLiteral("height"), row.height},
                                   {QStringLiteral("pointSize"), row.pointSize}});
    }
    QJsonArray addresses;
    for (const AddressRow& row : PanelLayout::addresses())
        addresses.append(QJsonObject{{QStringLiteral("caption"), text(row.caption)},
                                     {QStringLiteral("address"), text(row.address)}});
    return compact({{QStringLiteral("frames"), frames},
                    {QStringLiteral("buttons"), buttons},
                    {QStringLiteral("addresses"), addresses},
                    {QStringLiteral("width"), PanelLayout::kClientWidth},
                    {QStringLiteral("height"), PanelLayout::kClientHeight}});
}

QByteArray ApiJson::catalogue() {
    return compact({{QStringLiteral("basic"), strings(Catalogue::basic())},
                    {QStringLiteral("set"), strings(Catalogue::expand())},
                    {QStringLiteral("read"), strings(Catalogue::expandRead())}});
}

QByteArray ApiJson::status(const service::ProjectorService& service, const QString& name,
                           std::int64_t nowMs) {
    const service::LineState& line = service.lineState();
    static constexpr struct {
        const char* name;
        const char* command;
    } kValues[] = {{"status", "CR0"},
                   {"input", "CR1"},
                   {"lamp", "CR3"},
                   {"temperatures", "CR6"},
                   {"setting", "CR4"}};
    QJsonObject values;
    for (const auto& entry : kValues) {
        QJsonValue value = QJsonValue::Null;
        if (const auto stored = service.values().get(entry.command)) {
            const std::optional<ReplyValue> decoded =
                ReplyValue::decode(std::string(entry.command) + '\r', stored->reply);
            if (decoded)
                value = QJsonObject{{QStringLiteral("value"), asJson(*decoded)},
                                    {QStringLiteral("ageMs"), qint64(nowMs - stored->atMs)}};
        }
        values.insert(QLatin1String(entry.name), value);
    }
    const service::HoldState& hold = service.hold();
    QJsonObject holdJson{{QStringLiteral("active"), hold.active}};
    if (hold.active) {
        holdJson.insert(QStringLiteral("command"), QString::fromStdString(hold.command));
        holdJson.insert(QStringLiteral("who"), QString::fromStdString(hold.holder.label()));
    }
    return compact({{QStringLiteral("name"), name},
                    {QStringLiteral("address"), QString::fromStdString(service.settings().address)},
                    {QStringLiteral("line"),
                     QJsonObject{{QStringLiteral("up"), line.up},
                                 {QStringLiteral("port"), QString::fromStdString(line.port)},
                                 {QStringLiteral("reason"), QString::fromStdString(line.reason)},
                                 {QStringLiteral("retryMs"), qint64(line.retryMs)}}},
                    {QStringLiteral("values"), values},
                    {QStringLiteral("hold"), holdJson},
                    {QStringLiteral("frozen"), service.frozen()},
                    {QStringLiteral("muted"), service.muted()}});
}

QByteArray ApiJson::error(const QString& text) {
    return compact({{QStringLiteral("error"), text}});
}

} // namespace trv::http
