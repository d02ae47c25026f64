#include "support/TestCertificates.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace trv::testing {
namespace {

const QString kLocal = QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1");

// Elliptic-curve keys: made in a moment, where RSA keys take a while on a busy machine.
QStringList newKey(const QString& keyFile) {
    return {QStringLiteral("-newkey"),
            QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"),
            QStringLiteral("ec_paramgen_curve:prime256v1"),
            QStringLiteral("-nodes"),
            QStringLiteral("-keyout"),
            keyFile};
}

} // namespace

bool TestCertificates::available() {
    return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty();
}

QString TestCertificates::crt(const char* name) const {
    return folder_ + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".crt");
}

QString TestCertificates::key(const char* name) const {
    return folder_ + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".key");
}

bool TestCertificates::run(const QStringList& arguments) const {
    QProcess openssl;
    openssl.setWorkingDirectory(folder_);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        qWarning("openssl %s: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                 openssl.readAllStandardError().constData());
        return false;
    }
    return true;
}

bool TestCertificates::leaf(const char* name, const char* subject, const QString& names, int days,
                            int serial) {
    const QString request = folder_ + QLatin1Char('/') + QLatin1String(name) + ".csr";
    const QString extensions = folder_ + QLatin1Char('/') + QLatin1String(name) + ".ext";
    QFile file(extensions);
    if (!file.open(QIODevice::WriteOnly) || file.write(names.toUtf8() + '\n') < 0)
        return false;
    file.close();
    // A negative number of days gives a certificate that ended before it began: expired.
    return run(QStringList{"req", "-new"} + newKey(key(name)) +
               QStringList{"-subj", QLatin1String(subject), "-out", request}) &&
           run({"x509", "-req", "-in", request, "-CA", crt("ca"), "-CAkey", key("ca"),
                "-set_serial", QString::number(serial), "-days", QString::number(days), "-extfile",
                extensions, "-out", crt(name)});
}

bool TestCertificates::make(const QString& folder) {
    folder_ = folder;
    const QString admitted = authDir() + QStringLiteral("/trv/allowed_certs");
    // ser2net admits a client whose certificate chains to one in its folder for the client's
    // common name, there under the hashed names openssl rehash gives.
    return run(QStringList{"req", "-x509"} + newKey(key("ca")) +
               QStringList{"-subj", "/CN=trv test CA", "-days", "30", "-out", crt("ca")}) &&
           leaf("server", "/CN=localhost", kLocal, 30, 1) &&
           leaf("wrongname", "/CN=elsewhere.example",
                QStringLiteral("subjectAltName=DNS:elsewhere.example"), 30, 2) &&
           leaf("expired", "/CN=localhost", kLocal, -1, 3) &&
           leaf("client", "/CN=trv", QStringLiteral("extendedKeyUsage=clientAuth"), 30, 4) &&
           run(QStringList{"req", "-x509"} + newKey(key("selfsigned")) +
               QStringList{"-subj", "/CN=localhost", "-addext", kLocal, "-days", "30", "-out",
                           crt("selfsigned")}) &&
           QDir().mkpath(admitted) && QFile::copy(crt("ca"), admitted + "/ca.crt") &&
           run({"rehash", admitted});
}

QString TestCertificates::fingerprint(const char* name) const {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"x509", "-in", crt(name), "-noout", "-fingerprint", "-sha256"});
    if (!openssl.waitForFinished(30000))
        return {};
    // "sha256 Fingerprint=AB:CD:..."
    return QString::fromLatin1(openssl.readAllStandardOutput().trimmed()).section('=', 1);
}

} // namespace trv::testing
