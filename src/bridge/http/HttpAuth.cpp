#include "bridge/http/HttpAuth.h"

#include "listen/ListenGuard.h"

#include <QList>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <array>

namespace trv::http {
namespace {

QByteArray digest(const QByteArray& key, const QByteArray& text) {
    return QMessageAuthenticationCode::hash(text, key, QCryptographicHash::Sha256);
}

} // namespace

HttpAuth::HttpAuth(listen::ListenGuard& guard, SessionBook& sessions)
    : guard_(guard), sessions_(sessions) {
    std::array<quint32, 8> bits{};
    QRandomGenerator::system()->fillRange(bits.data(), bits.size());
    digestKey_ = QByteArray(reinterpret_cast<const char*>(bits.data()), sizeof bits);
}

bool HttpAuth::setPassword(const QString& password) {
    if (password == password_)
        return false;
    password_ = password;
    passwordDigest_ = digest(digestKey_, password_.toUtf8());
    sessions_.endAll();
    return true;
}

bool HttpAuth::matches(const QByteArray& candidate) const {
    const QByteArray given = digest(digestKey_, candidate);
    // Every byte is looked at, whatever the first difference.
    unsigned char difference = 0;
    for (qsizetype i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ passwordDigest_[i]);
    return difference == 0;
}

QByteArray HttpAuth::sessionOf(const QByteArray& cookieHeader) {
    for (const QByteArray& part : cookieHeader.split(';')) {
        const QByteArray pair = part.trimmed();
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0 && pair.left(equals).trimmed() == kCookie)
            return pair.mid(equals + 1).trimmed();
    }
    return {};
}

HttpAuth::Verdict HttpAuth::waiting(const QString& key, const QString& who) {
    const std::int64_t ms = guard_.backoff().waitMs(key);
    if (ms <= 0)
        return {Result::Missing, {}, 0};
    const std::int64_t seconds = (ms + 999) / 1000;
    guard_.log().event(
        key, QStringLiteral("refused, too many failed logins"),
        QStringLiteral("%1: refused, too many failed logins (%2 s more)").arg(who).arg(seconds));
    return {Result::Waiting, {}, seconds};
}

HttpAuth::Verdict HttpAuth::failed(const QString& key, const QString& who, const char* what) {
    guard_.backoff().failed(key, "http");
    guard_.log().event(key, QStringLiteral("failed login"),
                       QStringLiteral("%1: failed login (%2)").arg(who, QLatin1String(what)));
    return {Result::Wrong, {}, 0};
}

HttpAuth::Verdict HttpAuth::check(const QByteArray& cookieHeader, const QByteArray& authorization,
                                  const QString& key, const QString& who) {
    if (!passwordSet())
        return {Result::Open, {}, 0};
    if (const QByteArray session = sessionOf(cookieHeader);
        !session.isEmpty() && sessions_.use(session))
        return {Result::Session, session, 0};
    static const QByteArray kBearer = "bearer ";
    if (authorization.size() <= kBearer.size() ||
        authorization.left(kBearer.size()).toLower() != kBearer)
        return {Result::Missing, {}, 0};
    // While the address waits, no token is looked at: guessing meanwhile learns nothing.
    if (const Verdict wait = waiting(key, who); wait.result == Result::Waiting)
        return wait;
    if (!matches(authorization.mid(kBearer.size()).trimmed()))
        return failed(key, who, "wrong bearer password");
    guard_.backoff().succeeded(key);
    return {Result::Bearer, {}, 0};
}

HttpAuth::Verdict HttpAuth::login(const QByteArray& password, const QString& key,
                                  const QString& who) {
    if (!passwordSet())
        return {Result::Open, {}, 0};
    if (const Verdict wait = waiting(key, who); wait.result == Result::Waiting)
        return wait;
    if (!matches(password))
        return failed(key, who, "wrong password");
    guard_.backoff().succeeded(key);
    return {Result::Session, sessions_.open(), 0};
}

QByteArray HttpAuth::logout(const QByteArray& cookieHeader) {
    const QByteArray session = sessionOf(cookieHeader);
    if (!session.isEmpty())
        sessions_.end(session);
    return session;
}

} // namespace trv::http
