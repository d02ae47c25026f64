// The network port against servers in this process: silent, hostile, or not there at all.
#include "link/NetworkPort.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace trv {
namespace {

template <typename Done> bool spinUntil(Done done) {
    QDeadlineTimer deadline(5000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class NetworkPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, &server_,
                         [this] { peer_ = server_.nextPendingConnection(); });
    }
    bool open(const char* scheme) {
        port_.setTarget(PortTarget::parse(QStringLiteral("%1://127.0.0.1:%2")
                                              .arg(QLatin1String(scheme))
                                              .arg(server_.serverPort())));
        return port_.open().ok && spinUntil([&] { return peer_ != nullptr; });
    }
    QByteArray peerReads(qsizetype count) {
        QByteArray got;
        spinUntil([&] {
            got += peer_->readAll();
            return got.size() >= count;
        });
        return got;
    }

    QTcpServer server_;
    QTcpSocket* peer_ = nullptr;
    NetworkPort port_;
};

TEST_F(NetworkPortTest, RawBytesPassUnchangedBothWays) {
    ASSERT_TRUE(open("tcp"));
    ASSERT_TRUE(port_.write("A001CR0\r\xff"));
    EXPECT_EQ(peerReads(9), QByteArray("A001CR0\r\xff"));
    peer_->write("00\r");
    std::string got;
    EXPECT_TRUE(spinUntil([&] {
        got += port_.readAll();
        return got.size() >= 3;
    }));
    EXPECT_EQ(got, "00\r");
}

TEST_F(NetworkPortTest, HostileTelnetServerNeitherStallsNorGrowsAnything) {
    ASSERT_TRUE(open("rfc2217"));
    peerReads(1); // the client's offer and line settings
    // Floods of option requests, a subnegotiation that never ends, 0xFF at the end of a read.
    QByteArray hostile;
    for (int i = 0; i < 2000; ++i)
        hostile += QByteArray("\xff\xfd") + char(i % 256) + QByteArray("\xff\xfb") + char(i % 7);
    peer_->write(hostile + "00\r\xff");
    std::string data;
    ASSERT_TRUE(spinUntil([&] {
        data += port_.readAll();
        return data == "00\r";
    })) << data.size();
    peer_->write(QByteArray("\xff") + "\r\xff\xfa\x2c");
    peer_->write(QByteArray(100000, 'x'));
    ASSERT_TRUE(spinUntil([&] {
        data += port_.readAll();
        return data == "00\r\xff\r";
    }));
    // The answers to the flood went back, no more than the requests themselves.
    const QByteArray answers = peer_->readAll();
    EXPECT_LE(answers.size(), hostile.size());
    EXPECT_TRUE(port_.isOpen());
}

TEST_F(NetworkPortTest, SilentServerLeavesThePortOpenAndWritable) {
    ASSERT_TRUE(open("tcp"));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_TRUE(port_.isOpen());
    EXPECT_TRUE(port_.write("CR0\r"));
    EXPECT_EQ(port_.readAll(), "");
}

// A listener whose queue is full drops further connection requests unanswered.
TEST(NetworkPortFailures, UnansweredConnectionTimesOutAfterThreeSeconds) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), length);
    }
    NetworkPort port;
    port.setTarget(
        PortTarget::parse(QStringLiteral("tcp://127.0.0.1:%1").arg(ntohs(address.sin_port))));
    const SerialPort::OpenResult result = port.open();
    for (int fd : fillers)
        ::close(fd);
    ::close(listener);
    if (result.ok)
        GTEST_SKIP() << "this kernel answers connections beyond a full queue";
    EXPECT_TRUE(result.reason.contains(QLatin1String("timed out"))) << result.reason.toStdString();
}

// A refused connection is tried against ser2net's absence in the end-to-end tests.
TEST(NetworkPortFailures, MalformedAddressIsAFailedOpenNamingIt) {
    NetworkPort port;
    port.setTarget(PortTarget::parse(QStringLiteral("tcp://127.0.0.1:99999")));
    const SerialPort::OpenResult result = port.open();
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.reason.contains(QLatin1String("tcp://127.0.0.1:99999")));
    EXPECT_FALSE(port.isOpen());
}

} // namespace
} // namespace trv
