// trv-ctl and the panel through ser2net behind TLS, in front of trv-sim: certificates made here
// with openssl, one ser2net with an accepter for each kind of server. What the simulator
// receives shows that nothing went over a connection that failed its check.
#include "support/PanelOnServer.h"
#include "support/TestCertificates.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

namespace trv {
namespace {

// ser2net's accepters, in this order.
enum Accepter { kRfc2217s, kTcps, kWrongName, kExpired, kSelfSigned, kClientAuth };

class TlsServer : public testing::PanelOnServer {
protected:
    // Certificates, trv-sim and ser2net; false when this machine cannot run them.
    bool start() {
        if (!testing::Ser2net::available() || !testing::TestCertificates::available())
            return false;
        if (!certificates_.make(dir_.path())) {
            ADD_FAILURE() << "openssl made no certificates";
            return false;
        }
        if (!startSimulator())
            return false;
        const auto ssl = [&](const char* name, const char* more = "") {
            return QStringLiteral("ssl(key=%1,cert=%2%3),")
                .arg(certificates_.key(name), certificates_.crt(name), QLatin1String(more));
        };
        return server_.start(dir_.path(), device_,
                             {QStringLiteral("telnet(rfc2217),") + ssl("server"), ssl("server"),
                              ssl("wrongname"), ssl("expired"), ssl("selfsigned"),
                              ssl("server", ",clientauth")},
                             certificates_.authDir());
    }
    QString address(const char* scheme, Accepter accepter, const char* host = "127.0.0.1") {
        return QStringLiteral("%1://%2:%3")
            .arg(QLatin1String(scheme), QLatin1String(host))
            .arg(server_.port(accepter));
    }
    // "{ca}", "{client}", "{clientkey}" and "{pin}" in `text` as the certificates made here.
    QString expand(QString text) const {
        return text.replace(QLatin1String("{ca}"), certificates_.crt("ca"))
            .replace(QLatin1String("{clientkey}"), certificates_.key("client"))
            .replace(QLatin1String("{client}"), certificates_.crt("client"))
            .replace(QLatin1String("{pin}"), certificates_.fingerprint("selfsigned"));
    }

    struct Run {
        int exit = -1;
        QString out, err;
    };
    // trv-ctl with `tls` as its [TLS] settings.
    Run ctl(const QString& tls, const QStringList& args) {
        QDir().mkpath(dir_.path() + QStringLiteral("/ZEKO"));
        QFile settings(dir_.path() + QStringLiteral("/ZEKO/ZEKO.conf"));
        EXPECT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[TLS]\n" + expand(tls).toUtf8() + '\n');
        settings.close();
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TRV_CTL_PATH), args);
        process.waitForFinished(30000);
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    testing::TestCertificates certificates_;
};

#define START()                                                                                    \
    if (!start())                                                                                  \
    GTEST_SKIP() << "ser2net, openssl, pseudo-terminals or the simulator are unavailable here"

struct CtlRow {
    const char* name;
    Accepter accepter;
    const char* scheme;
    const char* host;
    const char* tls;    // the [TLS] lines
    const char* reason; // part of what trv-ctl says when it cannot open; "" when it can
};

void PrintTo(const CtlRow& row, std::ostream* os) { *os << row.name; }

class TlsCtl : public TlsServer, public ::testing::WithParamInterface<CtlRow> {};

TEST_P(TlsCtl, ReadsOnlyThroughAServerThatPassesItsCheck) {
    START();
    const CtlRow& row = GetParam();
    const Run run = ctl(QString::fromLatin1(row.tls),
                        {QStringLiteral("--port"), address(row.scheme, row.accepter, row.host),
                         QStringLiteral("--baud"), QStringLiteral("9600"), QStringLiteral("read"),
                         QStringLiteral("status")});
    if (*row.reason == '\0') {
        EXPECT_EQ(run.exit, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, " Stand by\n");
        EXPECT_EQ(received(), "CR0");
        return;
    }
    EXPECT_EQ(run.exit, 1) << run.out.toStdString(); // the port could not be opened
    EXPECT_TRUE(run.err.contains(QString::fromUtf8(row.reason))) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(address(row.scheme, row.accepter, row.host)))
        << run.err.toStdString();
    // The first command the simulator hears is the one sent through a good server after it.
    const Run next = ctl(QStringLiteral("CAFile={ca}"),
                         {QStringLiteral("--port"), address("rfc2217s", kRfc2217s),
                          QStringLiteral("send"), QStringLiteral("C89")});
    EXPECT_EQ(next.exit, 0) << next.err.toStdString();
    EXPECT_EQ(received(), "C89");
}

INSTANTIATE_TEST_SUITE_P(
    Servers, TlsCtl,
    ::testing::Values(
        CtlRow{"Rfc2217sAndACaFile", kRfc2217s, "rfc2217s", "127.0.0.1", "CAFile={ca}", ""},
        CtlRow{"TcpsByName", kTcps, "tcps", "localhost", "CAFile={ca}", ""},
        CtlRow{"PinnedSelfSigned", kSelfSigned, "tcps", "127.0.0.1", "Fingerprint={pin}", ""},
        CtlRow{"ClientCertificateGiven", kClientAuth, "tcps", "127.0.0.1",
               "CAFile={ca}\nCertFile={client}\nKeyFile={clientkey}", ""},
        CtlRow{"WrongName", kWrongName, "tcps", "127.0.0.1", "CAFile={ca}",
               "the server's certificate is for elsewhere.example, not 127.0.0.1"},
        CtlRow{"Expired", kExpired, "tcps", "127.0.0.1", "CAFile={ca}",
               "the server's certificate expired on"},
        CtlRow{"UnknownCa", kRfc2217s, "rfc2217s", "127.0.0.1", "",
               "is not signed by a CA this system trusts"},
        CtlRow{"SelfSignedUnpinned", kSelfSigned, "tcps", "127.0.0.1", "CAFile={ca}",
               "the server's certificate is self-signed, by \"localhost\"; pin it with [TLS] "
               "Fingerprint="},
        CtlRow{"PinMismatch", kTcps, "tcps", "127.0.0.1", "Fingerprint={pin}",
               "not the one in [TLS] Fingerprint="},
        CtlRow{"ClientCertificateMissing", kClientAuth, "tcps", "127.0.0.1", "CAFile={ca}",
               "it demands a client certificate (give one with [TLS] CertFile= and [TLS] "
               "KeyFile=)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The panel, COM3 mapped to a server behind TLS and chosen in its dialog.
class TlsPanel : public TlsServer {
protected:
    void open(const QString& target, const QString& caFile) {
        startPanel({{"Ports/COM3", target}, {"TLS/CAFile", caFile}});
        chooseCom3(); // nothing stored: the dialog
    }
};

TEST_F(TlsPanel, CommandsAndRepliesThroughAVerifiedServer) {
    START();
    open(address("rfc2217s", kRfc2217s), certificates_.crt("ca"));
    ASSERT_TRUE(serial_.isOpen());
    EXPECT_TRUE(messages_.shown.empty());
    click("Command13");
    EXPECT_EQ(received(), "C89");
    EXPECT_TRUE(shows("Label12", QStringLiteral("  [ACK] ")));
}

TEST_F(TlsPanel, ABadCertificateGivesRetryWithItsReason) {
    START();
    open(address("rfc2217s", kExpired), certificates_.crt("ca"));
    EXPECT_FALSE(serial_.isOpen());
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, "Retry Comport");
    EXPECT_TRUE(
        messages_.shown[0].detail.contains(QLatin1String("the server's certificate expired on")))
        << messages_.shown[0].detail.toStdString();
}

} // namespace
} // namespace trv
