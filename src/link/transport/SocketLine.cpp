#include "link/transport/SocketLine.h"

#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QTimer>
#if QT_CONFIG(ssl)
#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#endif
#include <algorithm>

namespace trv {
namespace {

// Runs the event loop until `done` holds, or `ms` pass, whichever comes first; `done` is asked
// again whenever `sender` emits `signal` or the socket changes state. True if done.
template <typename Sender, typename Signal, typename Done>
bool waitFor(QAbstractSocket& socket, const Sender* sender, Signal signal, Done done, int ms) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    QObject::connect(sender, signal, &loop, check);
    QObject::connect(&socket, &QAbstractSocket::stateChanged, &loop, check);
    deadline.start(std::max(ms, 0));
    // Clicks wait until it is decided.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return done();
}

int remaining(const QDeadlineTimer& deadline) { return int(deadline.remainingTime()); }

#if QT_CONFIG(ssl)
// Far more than any certificate or key file: a file that large is a mistake, not read whole.
constexpr qint64 kLargestFile = 1024 * 1024;

// The content of a file the TLS settings name, or why it cannot be used.
QByteArray readFile(const QString& key, const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = SocketLine::tr("%1 %2 cannot be read: %3").arg(key, path, file.errorString());
        return {};
    }
    if (file.size() > kLargestFile) {
        error = SocketLine::tr("%1 %2 is larger than 1 MiB: not a certificate or key file")
                    .arg(key, path);
        return {};
    }
    return file.read(kLargestFile);
}

// The certificates in a file the TLS settings name (PEM, or else DER), or none and why.
QList<QSslCertificate> readCertificates(const QString& key, const QString& path, QString& error) {
    const QByteArray data = readFile(key, path, error);
    if (!error.isEmpty())
        return {};
    QList<QSslCertificate> found = QSslCertificate::fromData(data, QSsl::Pem);
    if (found.isEmpty())
        found = QSslCertificate::fromData(data, QSsl::Der);
    if (found.isEmpty())
        error = SocketLine::tr("%1 %2 holds no certificate").arg(key, path);
    return found;
}

QSslKey privateKey(const QByteArray& data) {
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        for (const QSsl::EncodingFormat format : {QSsl::Pem, QSsl::Der}) {
            QSslKey key(data, algorithm, format, QSsl::PrivateKey);
            if (!key.isNull())
                return key;
        }
    }
    return {};
}

QString names(const QSslCertificate& certificate) {
    QStringList all;
    const auto alternatives = certificate.subjectAlternativeNames();
    for (auto it = alternatives.cbegin(); it != alternatives.cend(); ++it)
        all << it.value();
    if (all.isEmpty())
        all = certificate.subjectInfo(QSslCertificate::CommonName);
    all.removeDuplicates();
    return all.isEmpty() ? SocketLine::tr("no name") : all.join(QStringLiteral(", "));
}

// The order reasons are given in: what makes the others moot first.
int rank(QSslError::SslError error) {
    switch (error) {
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
        return 0;
    case QSslError::HostNameMismatch:
        return 2;
    default:
        return 1;
    }
}

// What an OpenSSL alert or record error says about the server.
bool notTls(const QString& why) {
    for (const char* sign : {"wrong version number", "packet length too long", "unknown protocol",
                             "record layer failure", "http request", "unexpected message"}) {
        if (why.contains(QLatin1String(sign), Qt::CaseInsensitive))
            return true;
    }
    return false;
}
#endif

} // namespace

QString SocketLine::tlsUnavailable() {
#if QT_CONFIG(ssl)
    if (QSslSocket::supportsSsl())
        return {};
    return tr("TLS is not available here: Qt finds no working TLS backend (%1)")
        .arg(QSslSocket::activeBackend().isEmpty() ? tr("none loaded")
                                                   : QSslSocket::activeBackend());
#else
    return tr("TLS is not available in this build (its Qt has no TLS backend)");
#endif
}

SocketLine::SocketLine(const PortTarget& target, QObject* parent)
    : LineDevice(parent), target_(target) {
    if (target_.kind == PortTarget::Kind::Rfc2217)
        telnet_ = std::make_unique<TelnetFilter>(socket_);
    connect(&socket_, &QTcpSocket::disconnected, this, &SocketLine::dropped);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &SocketLine::dropped);
#if QT_CONFIG(ssl)
    connect(&socket_, &QSslSocket::sslErrors, this,
            [this](const QList<QSslError>& errors) { sslErrors_ = errors; });
#endif
}

SocketLine::~SocketLine() { close(); }

QIODevice& SocketLine::io() {
    if (telnet_)
        return *telnet_;
    return socket_;
}

SerialPort::OpenResult SocketLine::open(const LineSettings& settings) {
    // The connection and the TLS handshake share one time-out.
    const QDeadlineTimer deadline(kConnectTimeoutMs, Qt::PreciseTimer);
    SerialPort::OpenResult result{true, {}};
    if (target_.secure) {
        QString problem = tlsUnavailable();
#if QT_CONFIG(ssl)
        if (problem.isEmpty())
            problem = configure();
#endif
        if (!problem.isEmpty())
            result = {false, problem};
    }
    if (result.ok)
        result = connectToServer(deadline);
#if QT_CONFIG(ssl)
    if (result.ok && target_.secure)
        result = handshake(deadline);
#endif
    if (result.ok && telnet_)
        result = negotiate(settings);
    if (!result.ok) {
        socket_.abort();
        return result;
    }
    open_ = true;
    return result;
}

SerialPort::OpenResult SocketLine::connectToServer(const QDeadlineTimer& deadline) {
    socket_.abort();
    socket_.setReadBufferSize(0);
    socket_.connectToHost(target_.host, target_.port);
    const bool decided = waitFor(
        socket_, &socket_, &QAbstractSocket::stateChanged,
        [this] {
            return socket_.state() == QAbstractSocket::ConnectedState ||
                   socket_.state() == QAbstractSocket::UnconnectedState;
        },
        remaining(deadline));
    if (socket_.state() == QAbstractSocket::ConnectedState) {
        // A command goes out at once, not held back to be merged with the next.
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return {true, {}};
    }
    if (!decided)
        return {false, tr("the connection timed out after %1 s").arg(kConnectTimeoutMs / 1000)};
    switch (socket_.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return {false, tr("connection refused")};
    case QAbstractSocket::HostNotFoundError:
        return {false, tr("host not found")};
    default:
        return {false, socket_.errorString()};
    }
}

#if QT_CONFIG(ssl)
QString SocketLine::configure() {
    const TlsSettings& tls = target_.tls;
    if (const QString problem = tls.problem(); !problem.isEmpty())
        return problem;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setProtocol(QSsl::TlsV1_2OrLater);
    QString error;
    if (!tls.fingerprint.isEmpty()) {
        // The pin alone decides, once the handshake is done and before anything is sent.
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
    } else {
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!tls.caFile.isEmpty()) {
            const QList<QSslCertificate> authorities =
                readCertificates(tls.keys[0], tls.caFile, error);
            if (!error.isEmpty())
                return error;
            config.setCaCertificates(authorities);
        }
    }
    if (!tls.certFile.isEmpty()) {
        const QList<QSslCertificate> chain = readCertificates(tls.keys[2], tls.certFile, error);
        if (!error.isEmpty())
            return error;
        // Without a key file the key is looked for beside the certificates.
        const QString& keyPath = tls.keyFile.isEmpty() ? tls.certFile : tls.keyFile;
        const QString& keyName = tls.keyFile.isEmpty() ? tls.keys[2] : tls.keys[3];
        const QByteArray keyData = readFile(keyName, keyPath, error);
        if (!error.isEmpty())
            return error;
        const QSslKey key = privateKey(keyData);
        if (key.isNull())
            return tr("%1 %2 holds no private key that can be read (an unencrypted PEM key)")
                .arg(keyName, keyPath);
        config.setLocalCertificateChain(chain);
        config.setPrivateKey(key);
    }
    socket_.setSslConfiguration(config);
    socket_.setPeerVerifyName(target_.host);
    return {};
}

SerialPort::OpenResult SocketLine::handshake(const QDeadlineTimer& deadline) {
    sslErrors_.clear();
    const auto failed = [this](const QString& why) { return SerialPort::OpenResult{false, why}; };
    socket_.startClientEncryption();
    const bool decided = waitFor(
        socket_, &socket_, &QSslSocket::encrypted,
        [this] {
            return socket_.isEncrypted() || socket_.state() != QAbstractSocket::ConnectedState;
        },
        remaining(deadline));
    if (!socket_.isEncrypted()) {
        if (!decided)
            return failed(tr("the TLS handshake did not end within %1 s (is it a TLS server?)")
                              .arg(kConnectTimeoutMs / 1000));
        return failed(handshakeFailure());
    }
    if (!target_.tls.fingerprint.isEmpty()) {
        const QByteArray pinned = *TlsSettings::parseFingerprint(target_.tls.fingerprint);
        const QByteArray seen = socket_.peerCertificate().digest(QCryptographicHash::Sha256);
        if (seen != pinned)
            return failed(tr("the server's certificate has the SHA-256 fingerprint %1, not the "
                             "one in %2")
                              .arg(TlsSettings::formatFingerprint(seen), target_.tls.keys[1]));
    }
    // Some servers judge the client's certificate only once the handshake is done, and hang
    // up: a little time for that, which a server that speaks first cuts short.
    waitFor(
        socket_, &socket_, &QIODevice::readyRead,
        [this] {
            return socket_.bytesAvailable() > 0 ||
                   socket_.state() != QAbstractSocket::ConnectedState;
        },
        kSettleMs);
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return failed(refusedClient());
    return {true, {}};
}

QString SocketLine::handshakeFailure() const {
    QList<QSslError> errors = sslErrors_;
    std::stable_sort(errors.begin(), errors.end(), [](const QSslError& a, const QSslError& b) {
        return rank(a.error()) < rank(b.error());
    });
    QStringList reasons;
    for (const QSslError& error : errors)
        reasons << explain(error);
    reasons.removeDuplicates();
    if (!reasons.isEmpty())
        return reasons.join(QStringLiteral("; "));
    const QString why = socket_.errorString();
    if (notTls(why))
        return tr("the server does not speak TLS (%1); for a plain server use %2://")
            .arg(why, target_.kind == PortTarget::Kind::Rfc2217 ? QStringLiteral("rfc2217")
                                                                : QStringLiteral("tcp"));
    if (socket_.error() == QAbstractSocket::RemoteHostClosedError ||
        why.contains(QLatin1String("certificate required")) ||
        why.contains(QLatin1String("handshake failure")) ||
        why.contains(QLatin1String("unexpected eof")))
        return refusedClient();
    return tr("the TLS handshake failed: %1").arg(why);
}

QString SocketLine::refusedClient() const {
    const TlsSettings& tls = target_.tls;
    if (tls.certFile.isEmpty())
        return tr("the server hung up during the TLS handshake: it demands a client "
                  "certificate (give one with %1 and %2)")
            .arg(tls.keys[2], tls.keys[3]);
    return tr("the server hung up during the TLS handshake: it does not take the client "
              "certificate in %1")
        .arg(tls.certFile);
}

QString SocketLine::explain(const QSslError& error) const {
    const QSslCertificate certificate = error.certificate();
    const QString& caFile = target_.tls.caFile;
    switch (error.error()) {
    case QSslError::HostNameMismatch:
        return tr("the server's certificate is for %1, not %2")
            .arg(names(certificate), target_.host);
    case QSslError::CertificateExpired:
        return tr("the server's certificate expired on %1")
            .arg(certificate.expiryDate().toUTC().toString(Qt::ISODate));
    case QSslError::CertificateNotYetValid:
        return tr("the server's certificate is not valid before %1")
            .arg(certificate.effectiveDate().toUTC().toString(Qt::ISODate));
    default:
        break;
    }
    if (error.error() == QSslError::SelfSignedCertificate)
        return tr("the server's certificate is self-signed, by \"%1\"; pin it with %2, or give "
                  "a certificate from a CA")
            .arg(certificate.issuerInfo(QSslCertificate::CommonName).join(QStringLiteral(", ")),
                 target_.tls.keys[1]);
    if (rank(error.error()) == 0) {
        const QString issuer =
            certificate.issuerInfo(QSslCertificate::CommonName).join(QStringLiteral(", "));
        return tr("the server's certificate (issued by \"%1\") is not signed by %2; give its "
                  "CA with %3, or pin the certificate with %4")
            .arg(issuer,
                 caFile.isEmpty() ? tr("a CA this system trusts") : tr("the CA in %1").arg(caFile),
                 target_.tls.keys[0], target_.tls.keys[1]);
    }
    return error.errorString();
}
#endif

SerialPort::OpenResult SocketLine::negotiate(const LineSettings& settings) {
    // The line settings go out only once the server has agreed to take them.
    telnet_->start();
    const auto decided = [this] {
        return telnet_->comPort() != TelnetCodec::ComPort::Asked ||
               socket_.state() != QAbstractSocket::ConnectedState;
    };
    QMetaObject::Connection pulling =
        connect(&socket_, &QIODevice::readyRead, telnet_.get(), &TelnetFilter::pull);
    telnet_->pull();
    waitFor(socket_, telnet_.get(), &TelnetFilter::negotiated, decided, kNegotiationTimeoutMs);
    disconnect(pulling);
    const QString tcp = QStringLiteral("%1://%2:%3")
                            .arg(target_.secure ? QStringLiteral("tcps") : QStringLiteral("tcp"))
                            .arg(target_.host.contains(QLatin1Char(':'))
                                     ? QLatin1Char('[') + target_.host + QLatin1Char(']')
                                     : target_.host)
                            .arg(target_.port);
    if (socket_.state() != QAbstractSocket::ConnectedState) {
#if QT_CONFIG(ssl)
        // Not a word from the server before it went: it had not taken the client.
        if (target_.secure && telnet_->comPort() == TelnetCodec::ComPort::Asked)
            return {false, refusedClient()};
#endif
        return {false, tr("the server closed the connection")};
    }
    switch (telnet_->comPort()) {
    case TelnetCodec::ComPort::Agreed:
        break;
    case TelnetCodec::ComPort::Refused:
        return {false, tr("the server refuses COM port control (RFC 2217), so the line speed "
                          "cannot be set. If the server's own speed is right, use %1.")
                           .arg(tcp)};
    case TelnetCodec::ComPort::Asked:
        return {false, tr("the server did not agree to COM port control (RFC 2217) within %1 "
                          "s. If the server's own speed is right, use %2.")
                           .arg(kNegotiationTimeoutMs / 1000)
                           .arg(tcp)};
    }
    telnet_->sendLineSettings(settings);
    // What came during the negotiation was not asked for.
    telnet_->readAll();
    return {true, {}};
}

void SocketLine::setReadLimit(qint64 bytes) {
    // Behind TLS the limit would hold back records half read, which no later fetch could
    // finish: the line is read whole instead.
    if (!target_.secure)
        socket_.setReadBufferSize(bytes);
}

void SocketLine::apply(const LineSettings& settings) {
    if (open_ && telnet_)
        telnet_->sendLineSettings(settings);
}

void SocketLine::fetch() {
    if (!open_)
        return;
    if (readyToRead(socket_.socketDescriptor()))
        socket_.waitForReadyRead(0);
}

void SocketLine::close() {
    if (!open_ && socket_.state() == QAbstractSocket::UnconnectedState)
        return;
    open_ = false;
    if (telnet_)
        telnet_->close();
    socket_.abort();
}

void SocketLine::dropped() {
    // A time-out is a wait that found nothing, not a failure of the connection.
    if (!open_ || socket_.error() == QAbstractSocket::SocketTimeoutError)
        return;
    const QAbstractSocket::SocketError error = socket_.error();
    open_ = false; // once
    emit lost(error == QAbstractSocket::RemoteHostClosedError ||
                      error == QAbstractSocket::UnknownSocketError
                  ? tr("the server closed the connection")
                  : tr("the connection broke: %1").arg(socket_.errorString()));
}

} // namespace trv
