// The port against device servers in this process: raw, Telnet ones that agree, refuse, flood
// without reading, hang up or reset, plain ones asked for TLS, and none at all; and TLS settings
// whose files cannot be used.
#include "link/transport/DevicePort.h"
#include "link/transport/SocketLine.h"
#include "link/transport/TelnetCodec.h"
#include "support/LoopbackServer.h"
#include "support/Spin.h"
#include "support/TestCertificates.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <string_view>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace trv {
namespace {

using testing::LoopbackServer;
using T = TelnetCodec;

std::string cmd(std::uint8_t verb, std::uint8_t option) {
    return {char(T::IAC), char(verb), char(option)};
}
std::string repeat(const std::string& text, std::size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}
const std::string kOffer = cmd(T::WILL, T::kComPort) + cmd(T::WILL, T::kBinary) +
                           cmd(T::DO, T::kBinary) + cmd(T::DO, T::kSuppressGoAhead);
const std::string kSettings9600 = T::lineSettings(LineSettings{});

using testing::spinUntil;

class DevicePortNetwork : public ::testing::Test {
protected:
    // What the server saw, kept under a lock: the script runs on the server's thread.
    void record(const std::string& what, const std::string& bytes) {
        const std::lock_guard lock(mutex_);
        seen_[what] = bytes;
    }
    std::string seen(const std::string& what) {
        const std::lock_guard lock(mutex_);
        return seen_[what];
    }
    SerialPort::OpenResult open(const char* scheme) {
        port_.setTarget(PortTarget::parse(server_.address(scheme)));
        return port_.open();
    }
    // Reads from the port until `expected` has come, and returns what came.
    std::string readUntil(const std::string& expected) {
        std::string got;
        spinUntil([&] {
            got += port_.readAll();
            return got.size() >= expected.size();
        });
        return got;
    }

    LoopbackServer server_;
    DevicePort port_;
    std::mutex mutex_;
    std::map<std::string, std::string> seen_;
};

TEST_F(DevicePortNetwork, RawBytesPassUnchangedBothWaysAndASilentServerKeepsTheLine) {
    server_.serve([this](LoopbackServer::Peer& peer) {
        record("command", peer.receive(5000, 9));
        peer.send("00\r");
        record("later", peer.receive(5000, 4));
    });
    ASSERT_TRUE(open("tcp").ok);
    ASSERT_TRUE(port_.write("A001CR0\r\xff"));
    EXPECT_EQ(readUntil("00\r"), "00\r");
    // Quiet for several gathering windows: still open, nothing invented.
    spinUntil([] { return false; }, 4 * DevicePort::kWindowMs);
    EXPECT_TRUE(port_.isOpen());
    EXPECT_EQ(port_.readAll(), "");
    ASSERT_TRUE(port_.write("CR1\r"));
    ASSERT_TRUE(server_.finished());
    EXPECT_EQ(seen("command"), "A001CR0\r\xff");
    EXPECT_EQ(seen("later"), "CR1\r");
}

TEST_F(DevicePortNetwork, Rfc2217LineSettingsFollowTheServersAgreementAndEverySpeedChange) {
    server_.serve([this](LoopbackServer::Peer& peer) {
        // Nothing but the offer until the server agrees.
        record("offer", peer.receive(300));
        peer.send(cmd(T::DO, T::kComPort) + cmd(T::DO, T::kBinary) + cmd(T::WILL, T::kBinary) +
                  cmd(T::WILL, T::kSuppressGoAhead));
        record("settings", peer.receive(5000, kSettings9600.size()));
        LineSettings fast;
        fast.baudRate = 19200;
        record("change", peer.receive(5000, T::lineSettings(fast).size()));
        record("data", peer.receive(5000, 3));
    });
    const SerialPort::OpenResult result = open("rfc2217");
    ASSERT_TRUE(result.ok) << result.reason.toStdString();
    LineSettings fast;
    fast.baudRate = 19200;
    port_.setSettings(fast);
    ASSERT_TRUE(port_.write("C\xff"));
    ASSERT_TRUE(server_.finished());
    EXPECT_EQ(seen("offer"), kOffer);
    EXPECT_EQ(seen("settings"), kSettings9600);
    EXPECT_EQ(seen("change"), T::lineSettings(fast));
    EXPECT_EQ(seen("data"), "C\xff\xff");
}

TEST_F(DevicePortNetwork, Rfc2217ServerRefusingComPortControlFailsTheOpenWithTheWayOut) {
    server_.serve([this](LoopbackServer::Peer& peer) {
        peer.receive(5000, kOffer.size());
        peer.send(cmd(T::DONT, T::kComPort) + cmd(T::DO, T::kBinary));
        record("after", peer.receive(500));
    });
    const SerialPort::OpenResult result = open("rfc2217");
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(port_.isOpen());
    EXPECT_TRUE(result.reason.contains(QLatin1String("refuses COM port control")))
        << result.reason.toStdString();
    EXPECT_TRUE(result.reason.contains(server_.address("tcp"))) << result.reason.toStdString();
    ASSERT_TRUE(server_.finished());
    // A refusal of the client's own request is not acknowledged, and no settings follow.
    EXPECT_EQ(seen("after"), "");
}

// A Telnet server that floods requests and never reads what the client answers.
struct FloodRow {
    const char* name;
    std::string request; // sent over and over
    bool lost;           // whether the client must give up on the server
};

TEST_F(DevicePortNetwork, FloodingServerThatNeverReadsLeavesTheWriteQueueBounded) {
    const FloodRow rows[] = {
        // Refused once, then never answered again: nothing piles up.
        {"repeated request", cmd(T::DO, 1) + cmd(T::WILL, 1), false},
        // Every request changes the state and is answered: the queue reaches its limit.
        {"changes of state", cmd(T::DONT, T::kBinary) + cmd(T::DO, T::kBinary), true},
    };
    for (const FloodRow& row : rows) {
        LoopbackServer server;
        DevicePort port;
        server.serve([&](LoopbackServer::Peer& peer) {
            peer.receive(5000, kOffer.size());
            peer.send(cmd(T::DO, T::kComPort));
            peer.receive(5000, kSettings9600.size());
            // 24 MiB of requests, more than the kernel buffers both ways hold.
            const std::string chunk = repeat(row.request, 65536 / row.request.size());
            for (int i = 0; i < 24 * 16 && peer.send(chunk); ++i) {
            }
            peer.send("00\r");
            if (!row.lost)
                record(row.name, peer.receive(5000, 6) + peer.receive(200));
        });
        port.setTarget(PortTarget::parse(server.address("rfc2217")));
        ASSERT_TRUE(port.open().ok) << row.name;
        QSignalSpy lost(&port, &SerialPort::linkLost);
        qint64 largestQueue = 0;
        std::string data;
        spinUntil([&] {
            data += port.readAll();
            largestQueue = std::max(largestQueue, port.writeQueue());
            return data == "00\r" || !lost.isEmpty();
        });
        EXPECT_LE(largestQueue, DevicePort::kWriteLimit + 65536) << row.name;
        if (row.lost) {
            ASSERT_EQ(lost.count(), 1) << row.name;
            EXPECT_TRUE(lost.first().first().toString().contains(QLatin1String("does not read")));
            EXPECT_FALSE(port.isOpen());
        } else {
            EXPECT_EQ(data, "00\r") << row.name;
            EXPECT_TRUE(lost.isEmpty()) << row.name;
            EXPECT_LE(largestQueue, 6) << row.name;
            port.close();
        }
        ASSERT_TRUE(server.finished()) << row.name;
        if (!row.lost) {
            EXPECT_EQ(seen(row.name), cmd(T::WONT, 1) + cmd(T::DONT, 1));
        }
    }
}

TEST_F(DevicePortNetwork, ServerClosingMidRunDeliversWhatItSentThenReportsTheLossOnce) {
    server_.serve([](LoopbackServer::Peer& peer) {
        peer.receive(5000, 4);
        peer.send("00");
    });
    ASSERT_TRUE(open("tcp").ok);
    std::string data;
    std::vector<std::string> order;
    QObject::connect(&port_, &SerialPort::commEvent, &port_, [&] { data += port_.readAll(); });
    QObject::connect(&port_, &SerialPort::linkLost, &port_, [&](const QString& reason) {
        order.push_back(data + " then " + reason.toStdString());
    });
    ASSERT_TRUE(port_.write("CR0\r"));
    ASSERT_TRUE(spinUntil([&] { return !order.empty(); }));
    spinUntil([] { return false; }, 3 * DevicePort::kWindowMs);
    EXPECT_EQ(order, std::vector<std::string>{"00 then the server closed the connection"});
    EXPECT_FALSE(port_.isOpen());
    EXPECT_FALSE(port_.write("CR0\r"));
}

// A server that resets the connection once the first command reached it. The port is not let
// see the reset before its next write: raw, handing that write to the line meets the reset;
// through Telnet the write itself does, and closes the port under it.
TEST(DevicePortNetworkFailures, WriteAfterTheServerResetFailsAndReportsTheLossOnce) {
    for (const char* scheme : {"tcp", "rfc2217"}) {
        const bool telnet = std::string_view(scheme) == "rfc2217";
        std::atomic<bool> reset{false}; // outlives the server's thread
        LoopbackServer server;
        server.serve([&](LoopbackServer::Peer& peer) {
            if (telnet) {
                peer.receive(5000, kOffer.size());
                peer.send(cmd(T::DO, T::kComPort));
                peer.receive(5000, kSettings9600.size());
            }
            peer.receive(5000, 1);
            peer.resetNow();
            reset = true;
        });
        DevicePort port;
        port.setTarget(PortTarget::parse(server.address(scheme)));
        ASSERT_TRUE(port.open().ok) << scheme;
        QSignalSpy lost(&port, &SerialPort::linkLost);
        ASSERT_TRUE(port.write("CR0\r")) << scheme;
        // No turn of the event loop meanwhile: only the next write can learn of the reset.
        for (int i = 0; i < 5000 && !reset; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(reset) << scheme;
        EXPECT_FALSE(port.write("CR1\r")) << scheme;
        EXPECT_FALSE(port.isOpen()) << scheme;
        spinUntil([] { return false; }, 3 * DevicePort::kWindowMs);
        ASSERT_EQ(lost.count(), 1) << scheme;
        EXPECT_EQ(lost.first().first().toString(),
                  QStringLiteral("the server closed the connection"))
            << scheme;
        EXPECT_FALSE(port.write("CR2\r")) << scheme;
        EXPECT_EQ(lost.count(), 1) << scheme;
        ASSERT_TRUE(server.finished()) << scheme;
    }
}

// A listener whose queue is full drops further connection requests unanswered.
TEST(DevicePortNetworkFailures, UnansweredConnectionTimesOutAfterThreeSeconds) {
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
    DevicePort port;
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

TEST(DevicePortNetworkFailures, MalformedAddressIsAFailedOpenNamingIt) {
    DevicePort port;
    port.setTarget(PortTarget::parse(QStringLiteral("tcp://127.0.0.1:99999")));
    const SerialPort::OpenResult result = port.open();
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.reason.startsWith(QLatin1String("tcp://127.0.0.1:99999: ")))
        << result.reason.toStdString();
    EXPECT_FALSE(port.isOpen());
}

// Whether `bytes` are whole TLS records of the handshake alone (hello, change of cipher,
// alert): no application data, nothing outside a record.
bool onlyHandshakeRecords(const std::string& bytes) {
    std::size_t at = 0;
    while (at + 5 <= bytes.size()) {
        const auto type = std::uint8_t(bytes[at]);
        if ((type != 0x14 && type != 0x15 && type != 0x16) || bytes[at + 1] != 0x03)
            return false;
        at += 5 + (std::size_t(std::uint8_t(bytes[at + 3])) << 8) + std::uint8_t(bytes[at + 4]);
    }
    return at == bytes.size() && !bytes.empty();
}

struct PlainRow {
    const char* name;
    const char* scheme;
    std::string greeting; // what the plain server says first
    const char* reason;
};

void PrintTo(const PlainRow& row, std::ostream* os) { *os << row.name; }

class TlsToAPlainServer : public ::testing::TestWithParam<PlainRow> {};

TEST_P(TlsToAPlainServer, FailsWithTheReasonAndSendsOnlyTheHello) {
    if (!SocketLine::tlsUnavailable().isEmpty())
        GTEST_SKIP() << SocketLine::tlsUnavailable().toStdString();
    const PlainRow& row = GetParam();
    LoopbackServer server;
    std::string got;
    server.serve([&](LoopbackServer::Peer& peer) {
        peer.send(row.greeting);
        got = peer.receive(SocketLine::kConnectTimeoutMs + 2000);
    });
    DevicePort port;
    port.setTarget(PortTarget::parse(server.address(row.scheme)));
    const SerialPort::OpenResult result = port.open();
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(port.write("CR0\r"));
    EXPECT_TRUE(result.reason.contains(QLatin1String(row.reason))) << result.reason.toStdString();
    ASSERT_TRUE(server.finished());
    EXPECT_TRUE(onlyHandshakeRecords(got)) << got.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(
    Servers, TlsToAPlainServer,
    ::testing::Values(PlainRow{"Telnet", "rfc2217s", kOffer, "the server does not speak TLS"},
                      PlainRow{"Silent", "tcps", "", "the TLS handshake did not end within 3 s"}),
    [](const auto& info) { return std::string(info.param.name); });

// Files named in the TLS settings that cannot be used fail the open with the file's key, its
// path and why, before any connection is made.
TEST(DevicePortTlsFiles, FilesThatCannotBeUsedFailTheOpenWithTheirReason) {
    if (!SocketLine::tlsUnavailable().isEmpty())
        GTEST_SKIP() << SocketLine::tlsUnavailable().toStdString();
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.pem"));
    const QString junk = dir.filePath(QStringLiteral("junk.pem"));
    const QString large = dir.filePath(QStringLiteral("large.pem"));
    {
        QFile file(junk);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a certificate\n");
        QFile big(large);
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.write(QByteArray(1024 * 1024 + 1, 'A'));
    }
    testing::TestCertificates certificates;
    const bool made = testing::TestCertificates::available() && certificates.make(dir.path());
    struct Row {
        const char* name;
        TlsSettings tls;
        QString reason;
        bool needsCertificates = false;
    };
    const auto settings = [](QString ca, QString cert = {}, QString key = {}) {
        TlsSettings tls;
        tls.caFile = std::move(ca);
        tls.certFile = std::move(cert);
        tls.keyFile = std::move(key);
        return tls;
    };
    const QString client = certificates.crt("client");
    const std::vector<Row> rows = {
        {"missing CA file", settings(missing),
         QStringLiteral("[TLS] CAFile= %1 cannot be read: No such file or directory").arg(missing)},
        {"CA file without a certificate", settings(junk),
         QStringLiteral("[TLS] CAFile= %1 holds no certificate").arg(junk)},
        {"oversized CA file", settings(large),
         QStringLiteral("[TLS] CAFile= %1 is larger than 1 MiB: not a certificate or key file")
             .arg(large)},
        {"client certificate file without a certificate", settings({}, junk),
         QStringLiteral("[TLS] CertFile= %1 holds no certificate").arg(junk)},
        {"missing client certificate file", settings({}, missing),
         QStringLiteral("[TLS] CertFile= %1 cannot be read: No such file or directory")
             .arg(missing)},
        {"client certificate without its key", settings({}, client),
         QStringLiteral("[TLS] CertFile= %1 holds no private key that can be read (an "
                        "unencrypted PEM key)")
             .arg(client),
         true},
        {"missing key file", settings({}, client, missing),
         QStringLiteral("[TLS] KeyFile= %1 cannot be read: No such file or directory").arg(missing),
         true},
        {"key file without a key", settings({}, client, junk),
         QStringLiteral("[TLS] KeyFile= %1 holds no private key that can be read (an "
                        "unencrypted PEM key)")
             .arg(junk),
         true},
    };
    for (const Row& row : rows) {
        if (row.needsCertificates && !made)
            continue;
        DevicePort port;
        // Nothing listens there: an open that got as far as connecting would say so.
        port.setTarget(PortTarget::parse(QStringLiteral("tcps://127.0.0.1:1")));
        port.setTls(row.tls);
        const SerialPort::OpenResult result = port.open();
        EXPECT_FALSE(result.ok) << row.name;
        EXPECT_EQ(result.reason, QStringLiteral("tcps://127.0.0.1:1: ") + row.reason) << row.name;
    }
}

} // namespace
} // namespace trv
