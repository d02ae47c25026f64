#include "link/transport/PortMap.h"
#include "support/Fakes.h"

#include <gtest/gtest.h>

namespace trv {
namespace {

struct TargetRow {
    const char* name;
    const char* text;
    PortTarget::Kind kind;
    const char* where; // path, or host:port
    const char* error; // part of the reason when invalid
};

void PrintTo(const TargetRow& row, std::ostream* os) { *os << row.name; }

class PortTargets : public ::testing::TestWithParam<TargetRow> {};

TEST_P(PortTargets, ParseAsWritten) {
    const TargetRow& row = GetParam();
    const PortTarget target = PortTarget::parse(QString::fromUtf8(row.text));
    EXPECT_EQ(target.kind, row.kind);
    if (target.kind == PortTarget::Kind::Device)
        EXPECT_EQ(target.path.toStdString(), row.where);
    else if (target.isNetwork())
        EXPECT_EQ(QStringLiteral("%1:%2").arg(target.host).arg(target.port).toStdString(),
                  row.where);
    else {
        EXPECT_TRUE(target.error.contains(QString::fromUtf8(row.error)))
            << target.error.toStdString();
        // The reason names the value, so the user finds the line to mend.
        EXPECT_TRUE(target.error.contains(QString::fromUtf8(row.text).trimmed()));
    }
}

using K = PortTarget::Kind;
INSTANTIATE_TEST_SUITE_P(
    Values, PortTargets,
    ::testing::Values(TargetRow{"Device", "/dev/ttyUSB0", K::Device, "/dev/ttyUSB0", ""},
                      TargetRow{"ById", " /dev/serial/by-id/usb-X-if00 ", K::Device,
                                "/dev/serial/by-id/usb-X-if00", ""},
                      TargetRow{"Tcp", "tcp://127.0.0.1:4001", K::Tcp, "127.0.0.1:4001", ""},
                      TargetRow{"Rfc2217", "rfc2217://room12.example:4001", K::Rfc2217,
                                "room12.example:4001", ""},
                      TargetRow{"Ipv6", "TCP://[::1]:2000", K::Tcp, "::1:2000", ""},
                      TargetRow{"NoPort", "tcp://host", K::Invalid, "", "HOST:PORT"},
                      TargetRow{"EmptyPort", "tcp://host:", K::Invalid, "", "HOST:PORT"},
                      TargetRow{"PortTooLarge", "tcp://host:65536", K::Invalid, "", "1 to 65535"},
                      TargetRow{"PortZero", "rfc2217://host:0", K::Invalid, "", "1 to 65535"},
                      TargetRow{"NotANumber", "tcp://host:12ab", K::Invalid, "", "1 to 65535"},
                      TargetRow{"UnknownScheme", "udp://host:4001", K::Invalid, "",
                                "unknown scheme"},
                      TargetRow{"NoHost", "tcp://:4001", K::Invalid, "", "HOST:PORT"},
                      TargetRow{"OpenBracket", "tcp://[::1:4001", K::Invalid, "", "brackets"},
                      TargetRow{"BareIpv6", "tcp://::1:4001", K::Invalid, "", "brackets"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PortMap, EnvironmentThenStoreThenPlatform) {
    testing::FakeSettingsStore store;
    store.values[QStringLiteral("Ports/COM3")] = QStringLiteral("rfc2217://room12.example:4001");
    const PortMap map(&store);
    qunsetenv("ZEKO_COM3");
    EXPECT_EQ(map.targetFor(3).kind, PortTarget::Kind::Rfc2217);
    qputenv("ZEKO_COM3", "/dev/pts/9");
    EXPECT_EQ(map.targetFor(3).path, "/dev/pts/9");
    qunsetenv("ZEKO_COM3");
    qunsetenv("ZEKO_COM4");
#ifdef Q_OS_WIN
    EXPECT_EQ(map.targetFor(4).path, "COM4");
#else
    EXPECT_EQ(map.targetFor(4).path, "/dev/ttyS3");
#endif
}

TEST(PortMap, SecureSchemesCarryTheStoredTlsSettings) {
    testing::FakeSettingsStore store;
    store.values = {{"Ports/COM3", "rfc2217s://room12.example:4001"},
                    {"Ports/COM4", "tcp://room12.example:4000"},
                    {"TLS/CAFile", "/etc/trv/ca.pem"},
                    {"TLS/Fingerprint", "ab:cd"}};
    const PortMap map(&store);
    qunsetenv("ZEKO_COM3");
    qunsetenv("ZEKO_COM4");
    const PortTarget rfc2217s = map.targetFor(3);
    EXPECT_EQ(rfc2217s.kind, PortTarget::Kind::Rfc2217);
    EXPECT_TRUE(rfc2217s.secure);
    EXPECT_EQ(rfc2217s.tls.caFile, "/etc/trv/ca.pem");
    // A bad fingerprint is the connection's problem, told when it opens.
    EXPECT_TRUE(rfc2217s.tls.problem().contains(QLatin1String("[TLS] Fingerprint=")));
    const PortTarget tcps = map.targetFor(QStringLiteral("TCPS://[::1]:4001"));
    EXPECT_EQ(tcps.kind, PortTarget::Kind::Tcp);
    EXPECT_TRUE(tcps.secure);
    EXPECT_EQ(tcps.host, "::1");
    EXPECT_FALSE(map.targetFor(4).secure);
    EXPECT_TRUE(PortTarget::parse(QStringLiteral("tls://host:1")).error.contains("tcps://"));
}

struct FingerprintRow {
    const char* name;
    const char* text;
    bool valid;
};

void PrintTo(const FingerprintRow& row, std::ostream* os) { *os << row.name; }

class Fingerprints : public ::testing::TestWithParam<FingerprintRow> {};

TEST_P(Fingerprints, TheUsualHexFormsRead) {
    const std::optional<QByteArray> digest =
        TlsSettings::parseFingerprint(QString::fromLatin1(GetParam().text));
    ASSERT_EQ(digest.has_value(), GetParam().valid);
    if (digest) {
        EXPECT_EQ(TlsSettings::formatFingerprint(*digest),
                  "AC:82:46:57:59:34:8E:15:A5:F9:CC:73:4B:1C:6B:F7:BD:DE:0B:63:1C:E0:0E:DC:6A:12:"
                  "97:0B:F6:E3:1F:5A");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Fingerprints,
    ::testing::Values(
        FingerprintRow{"Colons",
                       "AC:82:46:57:59:34:8E:15:A5:F9:CC:73:4B:1C:6B:F7:BD:DE:0B:63:1C:"
                       "E0:0E:DC:6A:12:97:0B:F6:E3:1F:5A",
                       true},
        FingerprintRow{"BareLowerCase",
                       "ac8246575934 8e15a5f9cc734b1c6bf7bdde0b631ce00edc6a12970bf6e31f5a", true},
        FingerprintRow{"AsOpensslPrintsIt",
                       "sha256 Fingerprint=AC:82:46:57:59:34:8E:15:A5:F9:CC:73:4B:1C:6B:F7:BD:DE:"
                       "0B:63:1C:E0:0E:DC:6A:12:97:0B:F6:E3:1F:5A",
                       true},
        FingerprintRow{"Prefixed",
                       " SHA256:ac8246575934 8e15a5f9cc734b1c6bf7bdde0b631ce00edc6a12970bf6e31f5a ",
                       true},
        FingerprintRow{"Short", "ac8246575934 8e15a5f9cc734b1c6bf7bdde0b631ce00edc6a12970bf6e31f5",
                       false},
        FingerprintRow{"NotHex",
                       "zc8246575934 8e15a5f9cc734b1c6bf7bdde0b631ce00edc6a12970bf6e31f5a", false},
        FingerprintRow{"Sha1", "AC:82:46:57:59:34:8E:15:A5:F9:CC:73:4B:1C:6B:F7:BD:DE:0B:63",
                       false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace trv
