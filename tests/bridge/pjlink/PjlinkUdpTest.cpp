// PJLink's UDP port on 127.0.0.1, with a hand-driven clock for the wait before an answer.
#include "bridge/pjlink/PjlinkUdp.h"
#include "listen/ListenGuard.h"
#include "support/Fakes.h"

#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>
#include <gtest/gtest.h>

namespace trv::bridge::pjlink {
namespace {

class UdpPort : public ::testing::Test {
protected:
    UdpPort() {
        // Two senders: one address each (Linux routes all of 127/8 to the loopback).
        a_.bind(QHostAddress::LocalHost, 0);
        b_.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        notified_.bind(QHostAddress::LocalHost, 0);
    }
    void start(PjlinkUdp::Settings settings) {
        udp_ = std::make_unique<PjlinkUdp>(
            guard_, settings, [this](int maxMs) { return std::min(delays_.at(next_++), maxMs); },
            5000);
        QString error;
        ASSERT_TRUE(udp_->bind(QHostAddress::LocalHost, 0, error)) << error.toStdString();
    }
    void search(QUdpSocket& from, const QByteArray& datagram = "%2SRCH\r") {
        from.writeDatagram(datagram, QHostAddress::LocalHost, udp_->port());
    }
    // What `socket` received within `ms`, each datagram from the bridge's own address.
    std::vector<std::string> received(QUdpSocket& socket, int ms = 100) {
        std::vector<std::string> got;
        QTest::qWait(ms);
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            EXPECT_EQ(datagram.senderAddress(), QHostAddress(QHostAddress::LocalHost));
            EXPECT_EQ(datagram.senderPort(), udp_->port());
            got.push_back(datagram.data().toStdString());
        }
        return got;
    }
    bool waiting(std::size_t n) {
        return QTest::qWaitFor([&] { return udp_->answersWaiting() == n; }, 5000);
    }

    testing::ManualClock clock_;
    listen::ListenGuard guard_{clock_, [](const QString&) {}};
    std::vector<int> delays_{700, 0, 9000, 5000};
    std::size_t next_ = 0;
    QUdpSocket a_, b_, notified_;
    std::unique_ptr<PjlinkUdp> udp_;
};

using Strings = std::vector<std::string>;

TEST_F(UdpPort, SearchesAreAnsweredAfterTheirWaitAndOneASecondToASender) {
    start({QStringLiteral("02:00:00:00:00:12"), {}, false});
    // Nothing but a search is answered.
    for (const QByteArray& other :
         {QByteArray("%2ACKN=02:00:00:00:00:13\r"), QByteArray("%1POWR ?\r"), QByteArray("%2SRCH"),
          QByteArray("%2SRCH\r").repeated(300)})
        search(b_, other);
    search(a_, "%2srch\r");
    ASSERT_TRUE(waiting(1));
    clock_.advance(699);
    EXPECT_EQ(received(a_), Strings{});
    clock_.advance(1);
    EXPECT_EQ(received(a_), Strings{"%2ACKN=02:00:00:00:00:12\r"});
    EXPECT_EQ(received(b_, 0), Strings{});
    // Again within a second of the answer: not answered; B's shows it was read.
    clock_.advance(999);
    search(a_);
    search(b_);
    ASSERT_TRUE(waiting(1));
    clock_.advance(0);
    EXPECT_EQ(received(b_), Strings{"%2ACKN=02:00:00:00:00:12\r"});
    EXPECT_EQ(received(a_, 0), Strings{});
    // A second later the next is; the longest wait is the given one.
    clock_.advance(1);
    search(a_);
    ASSERT_TRUE(waiting(1));
    clock_.advance(4999);
    EXPECT_EQ(received(a_), Strings{});
    clock_.advance(1);
    EXPECT_EQ(received(a_), Strings{"%2ACKN=02:00:00:00:00:12\r"});
}

TEST(UdpPortOnEveryAddress, AnswersFromTheAddressTheSearchWasSentTo) {
    testing::ManualClock clock;
    listen::ListenGuard guard{clock, [](const QString&) {}};
    PjlinkUdp udp(
        guard, {QStringLiteral("02:00:00:00:00:12"), {}, false}, [](int) { return 0; }, 5000);
    QString error;
    ASSERT_TRUE(udp.bind(QHostAddress(QHostAddress::AnyIPv4), 0, error)) << error.toStdString();
    QUdpSocket controller;
    controller.bind(QHostAddress::LocalHost, 0);
    // 127.0.0.2 is this machine's as well; the system would answer from 127.0.0.1.
    controller.writeDatagram("%2SRCH\r", QHostAddress(QStringLiteral("127.0.0.2")), udp.port());
    ASSERT_TRUE(QTest::qWaitFor([&] { return udp.answersWaiting() == 1; }, 5000));
    clock.advance(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.hasPendingDatagrams(); }, 5000));
    const QNetworkDatagram answer = controller.receiveDatagram();
    EXPECT_EQ(answer.data(), "%2ACKN=02:00:00:00:00:12\r");
    EXPECT_EQ(answer.senderAddress(), QHostAddress(QStringLiteral("127.0.0.2")))
        << answer.senderAddress().toString().toStdString();
}

TEST_F(UdpPort, NotificationsGoToEveryTargetByAddressOrName) {
    QUdpSocket other;
    other.bind(QHostAddress::LocalHost, 0);
    start({QStringLiteral("02:00:00:00:00:12"),
           {{QStringLiteral("127.0.0.1"), notified_.localPort()},
            {QStringLiteral("localhost"), other.localPort()}},
           false});
    udp_->notify({"LKUP", {}});
    udp_->notify({"POWR", "1"});
    EXPECT_EQ(received(notified_), (Strings{"%2LKUP=02:00:00:00:00:12\r", "%2POWR=1\r"}));
    // The name's notifications waited for its address.
    Strings byName;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            for (const std::string& got : received(other, 10))
                byName.push_back(got);
            return byName.size() >= 2;
        },
        5000));
    EXPECT_EQ(byName, (Strings{"%2LKUP=02:00:00:00:00:12\r", "%2POWR=1\r"}));
}

} // namespace
} // namespace trv::bridge::pjlink
