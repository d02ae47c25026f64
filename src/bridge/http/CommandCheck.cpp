#include "bridge/http/CommandCheck.h"

namespace trv::http {

QString CommandCheck::commandProblem(const QJsonValue& command) {
    if (!command.isString())
        return QStringLiteral("the command is not a string");
    const QString text = command.toString();
    if (text.isEmpty())
        return QStringLiteral("the command is empty");
    if (text.size() > kLongestCommand)
        return QStringLiteral("the command is longer than %1 characters").arg(kLongestCommand);
    // The line takes one byte a character, and a carriage return would end the command early.
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return QStringLiteral("the command holds a control or non-ASCII character (U+%1)")
                .arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return {};
}

QString CommandCheck::addressProblem(const QJsonValue& address) {
    if (address.isUndefined() || address.isNull())
        return {};
    static const QStringList known{QString(),
                                   QStringLiteral("AFFF"),
                                   QStringLiteral("A001"),
                                   QStringLiteral("A002"),
                                   QStringLiteral("A003"),
                                   QStringLiteral("A004")};
    if (!address.isString() || !known.contains(address.toString()))
        return QStringLiteral("the address is not one of \"\", AFFF, A001, A002, A003, A004");
    return {};
}

std::optional<std::string> CommandCheck::address(const QJsonValue& address) {
    if (!address.isString())
        return std::nullopt;
    return address.toString().toStdString();
}

} // namespace trv::http
