#include "bridge/pjlink/PjlinkConnection.h"

#include "bridge/pjlink/PjlinkDevice.h"
#include "listen/ListenGuard.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>

namespace trv::bridge::pjlink {
namespace {

constexpr char kDenied[] = "PJLINK ERRA\r";

// A line as it goes into the log: the line end left out, bytes that are not text shown as
// \xNN.
QString printable(std::string_view line) {
    QString text;
    for (const char c : line) {
        if (c == '\r')
            continue;
        if (c >= 0x20 && c <= 0x7e)
            text += QChar::fromLatin1(c);
        else
            text += QStringLiteral("\\x%1").arg(uint(static_cast<unsigned char>(c)), 2, 16,
                                                QChar(u'0'));
    }
    return text;
}

// Takes as long whatever the first difference, so the digest cannot be guessed by timing.
bool sameBytes(const QByteArray& a, const std::string& b) {
    if (std::size_t(a.size()) != b.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < b.size(); ++i)
        difference |= static_cast<unsigned char>(a[qsizetype(i)] ^ b[i]);
    return difference == 0;
}

} // namespace

PjlinkConnection::PjlinkConnection(QTcpSocket* socket, PjlinkDevice& service,
                                   const PjlinkServer::Options& options, listen::ListenGuard& guard,
                                   PjlinkServer::Peer peer, QObject* parent)
    : QObject(parent), socket_(socket), service_(service), guard_(guard), peer_(std::move(peer)),
      password_(options.password.toUtf8()), idleMs_(options.idleMs),
      replyLimitMs_(options.replyLimitMs), verbose_(options.verbose) {
    socket_->setParent(this);
    socket_->setReadBufferSize(kReadBuffer);
    bool v4 = false;
    const quint32 ipv4 = socket_->peerAddress().toIPv4Address(&v4);
    sender_ = {service::Sender::Kind::Pjlink,
               (v4 ? QHostAddress(ipv4) : socket_->peerAddress()).toString().toStdString(),
               service::Sender::nextId()};
    // A reply goes out at once, not held back to be merged with the next.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket_, &QTcpSocket::readyRead, this, &PjlinkConnection::work);
    connect(socket_, &QTcpSocket::disconnected, this, &PjlinkConnection::ended);

    idle_.setSingleShot(true);
    idle_.setInterval(idleMs_);
    connect(&idle_, &QTimer::timeout, this,
            [this] { close(QStringLiteral("no request for %1 ms").arg(idleMs_)); });
    replyLimit_.setSingleShot(true);
    connect(&replyLimit_, &QTimer::timeout, this, &PjlinkConnection::replyLate);
    grace_.setSingleShot(true);
    connect(&grace_, &QTimer::timeout, this, [this] {
        reason_ += QStringLiteral(", its last replies not taken");
        socket_->abort();
        ended();
    });
}

void PjlinkConnection::start() {
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        ended();
        return;
    }
    if (password_.isEmpty()) {
        authenticated_ = true;
        send("PJLINK 0\r");
    } else {
        random_ =
            QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
        send("PJLINK 1 " + random_.toStdString() + '\r');
    }
    idle_.start();
}

void PjlinkConnection::endIfGone() {
    if (!ended_ && socket_->state() == QAbstractSocket::UnconnectedState)
        ended();
}

PjlinkConnection::~PjlinkConnection() {
    QObject::disconnect(socket_, nullptr, this, nullptr);
    socket_->abort();
}

void PjlinkConnection::close(const QString& reason) {
    if (closing_ || ended_)
        return;
    closing_ = true;
    reason_ = reason;
    idle_.stop();
    replyLimit_.stop();
    queue_.clear();
    outstanding_ = false;
    // Unread bytes at the close would make it a reset, which may cost the client the last
    // reply: from now on everything is read, and thrown away.
    socket_->setReadBufferSize(0);
    drain();
    grace_.start(kCloseGraceMs);
    socket_->disconnectFromHost();
    if (socket_->state() == QAbstractSocket::UnconnectedState)
        ended();
}

void PjlinkConnection::work() {
    if (ended_)
        return;
    if (closing_) {
        drain();
        return;
    }
    // Replies may come back while a request is handed over; the loop below goes on from there.
    if (working_)
        return;
    working_ = true;
    bool progress = true;
    while (progress && !closing_ && !ended_) {
        progress = readLines();
        progress = dispatch() || progress;
    }
    working_ = false;
}

bool PjlinkConnection::readLines() {
    bool progress = false;
    while (!denied_ && readable() && int(queue_.size()) < kMaxWaiting) {
        if (inputAt_ == input_.size()) {
            input_.resize(512);
            inputAt_ = 0;
            const qint64 n = socket_->read(input_.data(), qint64(input_.size()));
            input_.resize(n > 0 ? std::size_t(n) : 0);
            if (n <= 0)
                break;
        }
        inputAt_ += splitter_.feed(std::string_view(input_).substr(inputAt_));
        if (splitter_.complete()) {
            take(splitter_.take());
            progress = true;
        }
    }
    return progress;
}

void PjlinkConnection::take(const std::string& line) {
    PjlinkRequest request = PjlinkRequest::parse(line);
    if (request.kind == PjlinkRequest::Kind::Empty)
        return;
    if (verbose_)
        log(QStringLiteral("< ") + printable(line));
    // The first request must carry the digest; a later one may, and then it must be right too.
    // While the address waits after failed logins, no digest is looked at: guessing on a
    // connection opened before learns nothing either.
    if (!password_.isEmpty() && (!authenticated_ || !request.digest.empty())) {
        if (guard_.backoff().waiting(peer_.key) || !digestMatches(request.digest)) {
            guard_.backoff().failed(peer_.key, "pjlink");
            denied_ = true;
            queue_.push_back({Item::Kind::Deny, std::move(request), {}});
            return;
        }
        guard_.backoff().succeeded(peer_.key);
        authenticated_ = true;
    }
    switch (request.kind) {
    case PjlinkRequest::Kind::Empty:
    case PjlinkRequest::Kind::Unreadable:
        // Nothing to answer to; it does not count as a request for the idle close either.
        if (verbose_)
            log(QStringLiteral("ignored: no PJLink request"));
        return;
    case PjlinkRequest::Kind::Refused: {
        std::string reply = request.reply(request.error);
        queue_.push_back({Item::Kind::Answer, std::move(request), std::move(reply)});
        break;
    }
    case PjlinkRequest::Kind::Request:
        queue_.push_back({Item::Kind::Ask, std::move(request), {}});
        break;
    }
    idle_.start();
    emit active();
}

bool PjlinkConnection::digestMatches(const std::string& digest) const {
    const QByteArray expected =
        QCryptographicHash::hash(random_ + password_, QCryptographicHash::Md5).toHex();
    return sameBytes(expected, digest);
}

bool PjlinkConnection::dispatch() {
    bool progress = false;
    while (!outstanding_ && !queue_.empty() && !closing_) {
        Item item = std::move(queue_.front());
        queue_.pop_front();
        progress = true;
        switch (item.kind) {
        case Item::Kind::Answer:
            send(item.reply);
            break;
        case Item::Kind::Deny:
            send(kDenied);
            close(QStringLiteral("authentication failed"));
            break;
        case Item::Kind::Ask: {
            outstanding_ = true;
            asked_ = std::move(item.request);
            const quint64 sequence = ++sequence_;
            if (replyLimitMs_ > 0)
                replyLimit_.start(replyLimitMs_);
            // The service may answer after this connection has gone.
            QPointer<PjlinkConnection> self(this);
            service_.request(asked_.classDigit, asked_.command, asked_.parameter, sender_,
                             [self, sequence](const std::string& value) {
                                 if (self)
                                     self->answered(sequence, value);
                             });
            break;
        }
        }
    }
    return progress;
}

void PjlinkConnection::answered(quint64 sequence, const std::string& value) {
    if (!outstanding_ || sequence != sequence_ || closing_ || ended_)
        return;
    outstanding_ = false;
    replyLimit_.stop();
    send(asked_.reply(value));
    work();
}

void PjlinkConnection::replyLate() {
    if (!outstanding_)
        return;
    log(QStringLiteral("%1 %2 not answered by the projector within %3 ms: ERR3")
            .arg(QString::fromStdString(asked_.command), QString::fromStdString(asked_.parameter))
            .arg(replyLimitMs_),
        QStringLiteral("not answered by the projector in time"));
    ++sequence_; // the answer, should it still come, is for nobody
    outstanding_ = false;
    send(asked_.reply("ERR3"));
    work();
}

void PjlinkConnection::send(const std::string& line) {
    if (ended_ || socket_->state() != QAbstractSocket::ConnectedState)
        return;
    if (verbose_)
        log(QStringLiteral("> ") + printable(line));
    socket_->write(line.data(), qint64(line.size()));
    socket_->flush();
    if (!closing_)
        idle_.start();
    if (socket_->bytesToWrite() > kMaxUnsent) {
        closing_ = true;
        reason_ = QStringLiteral("not taking its replies");
        socket_->abort();
        ended();
    }
}

void PjlinkConnection::drain() {
    while (socket_->isOpen() && socket_->bytesAvailable() > 0)
        socket_->skip(socket_->bytesAvailable());
    input_.clear();
    inputAt_ = 0;
}

bool PjlinkConnection::readable() const { return !ended_ && !closing_ && socket_->isOpen(); }

void PjlinkConnection::ended() {
    if (ended_)
        return;
    ended_ = true;
    idle_.stop();
    replyLimit_.stop();
    grace_.stop();
    queue_.clear();
    outstanding_ = false;
    log(QStringLiteral("closed: ") +
        (reason_.isEmpty() ? QStringLiteral("by the client") : reason_));
    emit finished(this);
}

void PjlinkConnection::log(const QString& line, const QString& kind) const {
    guard_.log().event(peer_.key, kind.isEmpty() ? line : kind,
                       peer_.name + QStringLiteral(": ") + line);
}

} // namespace trv::bridge::pjlink
