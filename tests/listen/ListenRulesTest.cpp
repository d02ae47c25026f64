// The rules every listener keeps, on a hand-driven clock.
#include "listen/AddressKey.h"
#include "listen/ConnectionBook.h"
#include "listen/LogSummary.h"
#include "listen/LoginBackoff.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace trv::listen {
namespace {

TEST(AddressKey, CountsIpv4AloneAndIpv6ByItsSlash64) {
    const struct {
        const char* address;
        const char* key;
    } rows[] = {
        {"192.0.2.7", "192.0.2.7"},
        {"::ffff:192.0.2.7", "192.0.2.7"},
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"2001:db8:1:3::1", "2001:db8:1:3::/64"},
        {"::1", "::/64"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(AddressKey::of(QHostAddress(QString::fromLatin1(row.address))).toStdString(),
                  row.key)
            << row.address;
    EXPECT_EQ(AddressKey::of(QHostAddress()), QString());
    EXPECT_EQ(AddressKey::printable(QHostAddress(QStringLiteral("::ffff:10.0.0.1")), 80),
              QStringLiteral("10.0.0.1:80"));
    EXPECT_EQ(AddressKey::printable(QHostAddress(QStringLiteral("fe80::1")), 80),
              QStringLiteral("[fe80::1]:80"));
}

using Kind = ConnectionBook::Decision::Kind;

TEST(ConnectionBook, CapsEachAddressAndWhenFullEvictsTheIdlestOfTheGreediest) {
    struct Held {
        std::uint64_t id;
        const char* key;
        std::int64_t activeMs;
    };
    const struct {
        const char* name;
        std::vector<Held> held;
        const char* newcomer;
        Kind kind;
        std::uint64_t victim;
    } rows[] = {
        {"room left", {{1, "a", 0}, {2, "b", 0}}, "c", Kind::Admit, 0},
        {"address at its cap", {{1, "a", 0}, {2, "a", 0}, {3, "b", 0}}, "a", Kind::Refuse, 0},
        {"full: the greediest address gives way",
         {{1, "a", 5}, {2, "b", 1}, {3, "b", 9}, {4, "c", 0}},
         "d",
         Kind::Evict,
         2},
        {"full: of two as greedy, the idlest connection",
         {{1, "a", 5}, {2, "a", 6}, {3, "b", 9}, {4, "b", 3}},
         "c",
         Kind::Evict,
         4},
        {"full, and the newcomer's address at its cap",
         {{1, "a", 5}, {2, "b", 4}, {3, "b", 9}, {4, "c", 3}},
         "b",
         Kind::Refuse,
         0},
        {"full: equal idleness, the oldest connection",
         {{7, "a", 0}, {3, "b", 0}, {5, "c", 0}, {9, "d", 0}},
         "e",
         Kind::Evict,
         3},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ConnectionBook book({4, 2});
        for (const Held& held : row.held)
            book.add(held.id, QString::fromLatin1(held.key), held.activeMs);
        const ConnectionBook::Decision decision = book.admit(QString::fromLatin1(row.newcomer));
        EXPECT_EQ(decision.kind, row.kind);
        EXPECT_EQ(decision.victim, row.victim);
    }
}

TEST(ConnectionBook, CountsWhatIsAddedTouchedAndRemoved) {
    ConnectionBook book({3, 2});
    book.add(1, QStringLiteral("a"), 0);
    book.add(2, QStringLiteral("a"), 0);
    book.add(2, QStringLiteral("a"), 0); // once only
    book.add(3, QStringLiteral("b"), 0);
    EXPECT_EQ(book.count(), 3);
    EXPECT_EQ(book.count(QStringLiteral("a")), 2);
    book.touch(1, 50);
    EXPECT_EQ(book.admit(QStringLiteral("c")).victim, 2u);
    book.remove(2);
    book.remove(2);
    EXPECT_EQ(book.count(QStringLiteral("a")), 1);
    EXPECT_EQ(book.admit(QStringLiteral("a")).kind, Kind::Admit);
}

TEST(LoginBackoff, WaitsAfterThreeFailuresDoublingToThirtySecondsUntilASuccess) {
    enum Event { Fail, Succeed, Check };
    const struct {
        std::int64_t atMs;
        Event event;
        std::int64_t waitMs; // afterwards
    } rows[] = {
        {0, Fail, 0},
        {10, Fail, 0},
        {20, Fail, 1000},
        {500, Check, 520},
        {1020, Check, 0},
        {1100, Fail, 2000},
        {3100, Fail, 4000},
        {7100, Fail, 8000},
        {15100, Fail, 16000},
        {31100, Fail, 30000},
        {61100, Fail, 30000},
        {61200, Check, 29900},
        {91100, Check, 0},
        {91100, Succeed, 0},
        {91200, Fail, 0},
        {91300, Fail, 0},
        {91400, Fail, 1000},
        // Quiet for longer than it is remembered: afresh.
        {91400 + LoginBackoff::kForgetMs + 1, Fail, 0},
    };
    testing::ManualClock clock;
    LoginBackoff backoff(clock);
    const QString key = QStringLiteral("192.0.2.7");
    for (const auto& row : rows) {
        clock.advance(row.atMs - clock.now());
        if (row.event == Fail)
            backoff.failed(key);
        else if (row.event == Succeed)
            backoff.succeeded(key);
        EXPECT_EQ(backoff.waitMs(key), row.waitMs) << "at " << row.atMs;
        EXPECT_EQ(backoff.waitMs(QStringLiteral("192.0.2.8")), 0);
    }
}

TEST(LoginBackoff, RemembersABoundedNumberOfAddresses) {
    testing::ManualClock clock;
    LoginBackoff backoff(clock);
    for (std::size_t i = 0; i < LoginBackoff::kMaxAddresses + 100; ++i) {
        for (int n = 0; n < 3; ++n)
            backoff.failed(QString::number(i));
        clock.advance(1);
    }
    EXPECT_EQ(backoff.size(), LoginBackoff::kMaxAddresses);
    // The newest are the ones still waiting.
    EXPECT_GT(backoff.waitMs(QString::number(LoginBackoff::kMaxAddresses + 99)), 0);
}

TEST(LogSummary, WritesTheFirstOfAKindAtOnceAndCountsTheRestOfItsMinute) {
    testing::ManualClock clock;
    std::vector<std::string> lines;
    LogSummary summary(clock, [&](const QString& line) { lines.push_back(line.toStdString()); });
    const auto event = [&](const char* key, const char* kind, int n) {
        summary.event(
            QString::fromLatin1(key), QString::fromLatin1(kind),
            QStringLiteral("%1 %2 #%3").arg(QLatin1String(key), QLatin1String(kind)).arg(n));
    };
    for (int n = 1; n <= 5; ++n) {
        event("a", "closed", n);
        event("b", "closed", n);
        clock.advance(1000);
    }
    event("a", "connected", 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"a closed #1", "b closed #1", "a connected #1"}));
    lines.clear();
    clock.advance(LogSummary::kWindowMs - 5000);
    EXPECT_EQ(lines, (std::vector<std::string>{"a: 4 more in the last minute like: a closed #5",
                                               "b: 4 more in the last minute like: b closed #5"}));
    // Within the next minute the events are still counted, since its line is the count.
    lines.clear();
    event("a", "closed", 6);
    EXPECT_EQ(lines, std::vector<std::string>{});
    summary.flush();
    EXPECT_EQ(lines, std::vector<std::string>{"a: 1 more in the last minute like: a closed #6"});
    lines.clear();
    summary.setVerbose(true);
    event("a", "closed", 7);
    event("a", "closed", 8);
    EXPECT_EQ(lines, (std::vector<std::string>{"a closed #7", "a closed #8"}));
}

} // namespace
} // namespace trv::listen
