#pragma once

#include "bridge/http/SessionBook.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace trv::listen {
class ListenGuard;
}

namespace trv::http {

// Who may use the web panel and the API: without a password everyone; with one, a live
// session or the password itself as a bearer token. Logins and bearer tokens meet the
// back-off after failed logins that every front end shares, and failures are logged with the
// address.
class HttpAuth {
public:
    static constexpr const char* kCookie = "trv-session";

    enum class Result {
        Open,    // no password set
        Session, // a live session
        Bearer,  // the right password as a bearer token
        Missing, // no credentials, or a session that is over: 401
        Wrong,   // a wrong password: 401, and it counts as a failed login
        Waiting, // the address waits after failed logins: 429
    };
    struct Verdict {
        Result result = Result::Missing;
        QByteArray session;           // Session: its id; a successful login: the new one
        std::int64_t retryAfterS = 0; // Waiting: whole seconds, at least 1
        bool allowed() const {
            return result == Result::Open || result == Result::Session || result == Result::Bearer;
        }
    };

    // `guard` and `sessions` outlive this.
    HttpAuth(listen::ListenGuard& guard, SessionBook& sessions);

    // Whether it differs from the one before; a changed password ends every session.
    bool setPassword(const QString& password);
    bool passwordSet() const { return !password_.isEmpty(); }

    // A request with these Cookie and Authorization headers from the address `key` (the
    // listen key), named `who` in the log.
    Verdict check(const QByteArray& cookieHeader, const QByteArray& authorization,
                  const QString& key, const QString& who);
    // The login form's password: a new session, Wrong or Waiting.
    Verdict login(const QByteArray& password, const QString& key, const QString& who);
    // Ends the session the Cookie header names, and returns its id (empty for none).
    QByteArray logout(const QByteArray& cookieHeader);

    // The trv-session value of a Cookie header, empty when there is none.
    static QByteArray sessionOf(const QByteArray& cookieHeader);

private:
    bool matches(const QByteArray& candidate) const;
    Verdict waiting(const QString& key, const QString& who);
    Verdict failed(const QString& key, const QString& who, const char* what);

    listen::ListenGuard& guard_;
    SessionBook& sessions_;
    QString password_;
    // Candidates are compared as keyed digests, so the time a comparison takes says nothing
    // about the password, not even its length.
    QByteArray digestKey_;
    QByteArray passwordDigest_;
};

} // namespace trv::http
