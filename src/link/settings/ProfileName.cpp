#include "link/settings/ProfileName.h"

namespace trv::ProfileName {

QString problem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("a profile needs a name");
    if (name.size() > kLongest)
        return QStringLiteral("longer than %1 characters").arg(kLongest);
    // A leading dot would make the file hidden, or "." and ".." name folders.
    if (name.startsWith(u'.'))
        return QStringLiteral("starts with \".\"");
    for (const QChar c : name) {
        if (c.isLetter() || c.isDigit() || c == u'-' || c == u'_' || c == u'.' || c == u' ')
            continue;
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("holds a control character");
        return QStringLiteral("holds \"%1\": use letters, digits, \"-\", \"_\", \".\" and blanks")
            .arg(c);
    }
    return {};
}

QString printable(const QString& name) {
    QString shown;
    for (const QChar c : name)
        shown += c.unicode() < 0x20 || c.unicode() == 0x7f
                     ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                     : QString(c);
    return shown;
}

} // namespace trv::ProfileName
