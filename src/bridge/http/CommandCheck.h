#pragma once

#include <QJsonValue>
#include <QString>
#include <optional>
#include <string>

namespace trv::http {

// What a client may ask to send: one command of printable ASCII, at most 256 characters, and
// one of the panel's unit addresses.
class CommandCheck {
public:
    static constexpr int kLongestCommand = 256;

    // Why `command` cannot go out as one command; empty when it can.
    static QString commandProblem(const QJsonValue& command);
    // Why `address` is not a unit address; empty when it is one, or when it is missing or
    // null (the configured one).
    static QString addressProblem(const QJsonValue& address);
    // The address asked for, once checked: none for the configured one.
    static std::optional<std::string> address(const QJsonValue& address);
};

} // namespace trv::http
