#include "bridge/http/HttpAuth.h"
#include "bridge/http/SessionBook.h"
#include "listen/ListenGuard.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>
#include <set>

namespace trv::http {
namespace {

using Result = HttpAuth::Result;

TEST(SessionBook, SessionsLiveWhileUsedAndEndByIdlenessLogoutOrAll) {
    testing::ManualClock clock;
    SessionBook book(clock);
    const QByteArray a = book.open();
    const QByteArray b = book.open();
    EXPECT_EQ(a.size(), 32); // 128 bits in hex
    EXPECT_NE(a, b);
    EXPECT_TRUE(book.use(a));
    // Used just before its 12 hours are up, it lives on for another 12.
    clock.advance(SessionBook::kIdleMs - 1);
    EXPECT_TRUE(book.use(a));
    clock.advance(1);
    EXPECT_FALSE(book.use(b)) << "unused for 12 hours";
    clock.advance(SessionBook::kIdleMs - 2);
    EXPECT_TRUE(book.use(a));
    clock.advance(SessionBook::kIdleMs);
    EXPECT_FALSE(book.use(a));
    EXPECT_FALSE(book.use(QByteArray(32, '0')));
    EXPECT_FALSE(book.use({}));

    const QByteArray c = book.open();
    const QByteArray d = book.open();
    book.end(c);
    EXPECT_FALSE(book.use(c));
    EXPECT_TRUE(book.use(d));
    book.open();
    book.endAll();
    EXPECT_FALSE(book.use(d));
    EXPECT_EQ(book.size(), 0u);
}

TEST(SessionBook, TheOneUnusedLongestGivesWayWhenFull) {
    testing::ManualClock clock;
    SessionBook book(clock, 3);
    const QByteArray first = book.open();
    clock.advance(10);
    const QByteArray second = book.open();
    clock.advance(10);
    const QByteArray third = book.open();
    clock.advance(10);
    ASSERT_TRUE(book.use(first)); // now second is the one unused longest
    const QByteArray fourth = book.open();
    EXPECT_EQ(book.size(), 3u);
    EXPECT_FALSE(book.use(second));
    EXPECT_TRUE(book.use(first));
    EXPECT_TRUE(book.use(third));
    EXPECT_TRUE(book.use(fourth));
    std::set<QByteArray> ids;
    for (int i = 0; i < 200; ++i)
        ids.insert(book.open());
    EXPECT_EQ(ids.size(), 200u);
    EXPECT_EQ(book.size(), 3u);
}

class HttpAuthTest : public ::testing::Test {
protected:
    HttpAuth::Verdict ask(const QByteArray& cookie, const QByteArray& authorization,
                          const QString& key = QStringLiteral("127.0.0.1")) {
        return auth.check(cookie, authorization, key, QStringLiteral("web client ") + key);
    }
    static QByteArray cookieOf(const QByteArray& id) {
        return "theme=dark; trv-session=" + id + "; other=1";
    }

    testing::ManualClock clock;
    std::vector<QString> logged;
    listen::ListenGuard guard{clock, [this](const QString& line) { logged.push_back(line); }};
    SessionBook sessions{clock};
    HttpAuth auth{guard, sessions};
};

TEST_F(HttpAuthTest, WhoGetsInWithAndWithoutAPassword) {
    EXPECT_EQ(ask({}, {}).result, Result::Open);
    EXPECT_EQ(ask({}, "Bearer anything").result, Result::Open);
    ASSERT_TRUE(auth.setPassword(QStringLiteral("room12")));
    const QByteArray session = auth.login("room12", QStringLiteral("127.0.0.1"), "me").session;
    ASSERT_FALSE(session.isEmpty());
    const QByteArray stale = auth.login("room12", QStringLiteral("127.0.0.1"), "me").session;
    sessions.end(stale);
    const struct {
        const char* name;
        QByteArray cookie, authorization;
        Result result;
    } rows[] = {
        {"no credentials", {}, {}, Result::Missing},
        {"another scheme", {}, "Basic cm9vbTEy", Result::Missing},
        {"wrong bearer", {}, "Bearer room13", Result::Wrong},
        {"longer bearer", {}, "Bearer room12x", Result::Wrong},
        {"right bearer", {}, "Bearer room12", Result::Bearer},
        {"right bearer, any case", {}, "bearer room12", Result::Bearer},
        {"session cookie", cookieOf(session), {}, Result::Session},
        {"ended session", cookieOf(stale), {}, Result::Missing},
        {"made-up session", cookieOf(QByteArray(32, 'a')), {}, Result::Missing},
        {"ended session, right bearer", cookieOf(stale), "Bearer room12", Result::Bearer},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ask(row.cookie, row.authorization).result, row.result);
        guard.backoff().succeeded(QStringLiteral("127.0.0.1"));
    }
    EXPECT_EQ(ask(cookieOf(session), {}).session, session);

    // Expired after 12 hours unused.
    clock.advance(SessionBook::kIdleMs);
    EXPECT_EQ(ask(cookieOf(session), {}).result, Result::Missing);

    // A new password ends every session; the same one again ends none.
    const QByteArray kept = auth.login("room12", QStringLiteral("127.0.0.1"), "me").session;
    EXPECT_FALSE(auth.setPassword(QStringLiteral("room12")));
    EXPECT_EQ(ask(cookieOf(kept), {}).result, Result::Session);
    EXPECT_TRUE(auth.setPassword(QStringLiteral("room13")));
    EXPECT_EQ(ask(cookieOf(kept), {}).result, Result::Missing);
    EXPECT_EQ(ask({}, "Bearer room12").result, Result::Wrong);
    guard.backoff().succeeded(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(ask({}, "Bearer room13").result, Result::Bearer);
}

TEST_F(HttpAuthTest, FailuresBackOffPerAddressSharedWithOtherFrontEndsAndAreLogged) {
    auth.setPassword(QStringLiteral("room12"));
    const QString guesser = QStringLiteral("192.0.2.7");
    const QString other = QStringLiteral("192.0.2.8");
    // Two wrong logins and a wrong bearer: the third failure starts the first wait.
    EXPECT_EQ(auth.login("a", guesser, "g").result, Result::Wrong);
    EXPECT_EQ(auth.login("b", guesser, "g").result, Result::Wrong);
    EXPECT_EQ(ask({}, "Bearer c", guesser).result, Result::Wrong);
    const HttpAuth::Verdict waiting = auth.login("room12", guesser, "g");
    EXPECT_EQ(waiting.result, Result::Waiting) << "not even the right one is looked at";
    EXPECT_EQ(waiting.retryAfterS, 1);
    EXPECT_EQ(ask({}, "Bearer room12", guesser).result, Result::Waiting);
    EXPECT_EQ(auth.login("room12", other, "o").result, Result::Session) << "others not slowed";
    // Failures through another front end count for the same address.
    clock.advance(1000);
    guard.backoff().failed(guesser);
    EXPECT_EQ(auth.login("room12", guesser, "g").retryAfterS, 2);
    clock.advance(2000);
    const HttpAuth::Verdict in = auth.login("room12", guesser, "g");
    EXPECT_EQ(in.result, Result::Session);
    EXPECT_FALSE(guard.backoff().waiting(guesser)) << "a success ends the wait";

    const auto said = [&](const char* text) {
        return std::count_if(logged.begin(), logged.end(), [&](const QString& line) {
            return line.contains(QLatin1String(text));
        });
    };
    EXPECT_GE(said("g: failed login (wrong password)"), 1);
    EXPECT_GE(said("refused, too many failed logins"), 1);
    EXPECT_EQ(said("room12"), 0) << "no password in the log";
}

} // namespace
} // namespace trv::http
