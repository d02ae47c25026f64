#pragma once

#include <QString>

// The rules for the name of a profile, which becomes a file name and a registry key: checked
// before anything is read or made under it.
namespace trv::ProfileName {

constexpr int kLongest = 64;

// Why `name` cannot name a profile, or empty when it can: letters, digits, "-", "_", "." and
// blanks, 1 to 64 of them, not starting with ".".
QString problem(const QString& name);
// `name` with its control characters written as \xHH, to be quoted in a message.
QString printable(const QString& name);

} // namespace trv::ProfileName
