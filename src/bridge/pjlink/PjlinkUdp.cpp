#include "bridge/pjlink/PjlinkUdp.h"

#include "link/clock/Clock.h"
#include "listen/AddressKey.h"
#include "listen/ListenGuard.h"

#include <QHostInfo>

#include <QNetworkInterface>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>

namespace trv::bridge::pjlink {
namespace {

constexpr int kLargestDatagram = 64; // a search is 7 bytes; anything longer is not one
const QString kNoMac = QStringLiteral("00:00:00:00:00:00");

bool isSearch(const QByteArray& data) { return data.toUpper() == "%2SRCH\r"; }

bool wildcard(const QHostAddress& host) {
    return host == QHostAddress(QHostAddress::Any) || host == QHostAddress(QHostAddress::AnyIPv4) ||
           host == QHostAddress(QHostAddress::AnyIPv6);
}

// An IPv4 peer as IPv4, whichever socket it came in on.
QHostAddress plain(const QHostAddress& address) {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4) : address;
}

QString macOf(const QNetworkInterface& interface) {
    const QString mac = interface.hardwareAddress().toLower();
    return mac.size() == 17 ? mac : QString();
}

// The first interface up with a MAC address of its own, for a peer no interface's subnet holds.
QString anyMac() {
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if ((flags & QNetworkInterface::IsUp) && !(flags & QNetworkInterface::IsLoopBack) &&
            !macOf(interface).isEmpty() && macOf(interface) != kNoMac)
            return macOf(interface);
    }
    return kNoMac;
}

// One IPv4 datagram from `from`, an address of this machine: Qt 6.4 hands the kernel the source
// in a field Linux reads only on receipt (in_pktinfo's ipi_addr, not ipi_spec_dst).
bool sendFrom(int fd, const QByteArray& data, const QHostAddress& to, quint16 port,
              const QHostAddress& from) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    destination.sin_addr.s_addr = htonl(to.toIPv4Address());
    iovec part{const_cast<char*>(data.constData()), std::size_t(data.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &destination;
    message.msg_namelen = sizeof destination;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(from.toIPv4Address());
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    return ::sendmsg(fd, &message, MSG_DONTWAIT) == ssize_t(data.size());
}

QByteArray datagramOf(const NotifyRules::Notice& notice, const QString& value) {
    return "%2" + QByteArray::fromStdString(notice.command) + '=' + value.toLatin1() + '\r';
}

} // namespace

PjlinkUdp::PjlinkUdp(listen::ListenGuard& guard, Settings settings, Random random, int maxDelayMs,
                     SearchLimits limits, QObject* parent)
    : QObject(parent), guard_(guard), random_(std::move(random)), maxDelayMs_(maxDelayMs),
      limiter_(limits), timer_(guard.clock().createTimer(0, false)) {
    if (!random_) {
        random_ = [engine = std::make_shared<std::mt19937>(std::random_device{}())](int maxMs) {
            return std::uniform_int_distribution<int>(0, maxMs)(*engine);
        };
    }
    connect(timer_.get(), &Timer::timeout, this, &PjlinkUdp::answerDue);
    connect(&socket_, &QUdpSocket::readyRead, this, [this] { read(socket_, false); });
    setSettings(settings);
}

PjlinkUdp::~PjlinkUdp() {
    for (const Target& target : targets_) {
        if (target.lookupId >= 0)
            QHostInfo::abortHostLookup(target.lookupId);
    }
}

bool PjlinkUdp::bind(const QHostAddress& host, quint16 port, QString& error) {
    // Shared, so that every bridge on the machine hears a broadcast; unicast goes to the one
    // bound to its destination, or else to the last bound on every address.
    const auto mode = QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint;
    if (!socket_.bind(host, port, mode)) {
        error = socket_.errorString();
        return false;
    }
    // A socket bound to one address does not hear broadcasts: a second one on every address of
    // its family does, and answers go out from the first.
    if (!wildcard(host) && !host.isLoopback()) {
        wide_ = std::make_unique<QUdpSocket>();
        const QHostAddress every(host.protocol() == QAbstractSocket::IPv6Protocol
                                     ? QHostAddress::AnyIPv6
                                     : QHostAddress::AnyIPv4);
        if (!wide_->bind(every, socket_.localPort(), mode)) {
            error = QStringLiteral("for broadcasts on port %1: %2")
                        .arg(socket_.localPort())
                        .arg(wide_->errorString());
            socket_.close();
            wide_.reset();
            return false;
        }
        connect(wide_.get(), &QUdpSocket::readyRead, this, [this] { read(*wide_, true); });
    }
    return true;
}

void PjlinkUdp::setSettings(const Settings& settings) {
    const bool retarget = settings.notify != settings_.notify || targets_.empty();
    settings_ = settings;
    settings_.mac = settings_.mac.toLower();
    if (retarget)
        setTargets(settings_.notify);
}

void PjlinkUdp::read(QUdpSocket& socket, bool wide) {
    // A flood is read a batch at a time; the socket tells again of what is left.
    for (int i = 0; i < kReadsPerTurn && socket.hasPendingDatagrams(); ++i) {
        const QNetworkDatagram datagram = socket.receiveDatagram(kLargestDatagram);
        if (datagram.isValid() && isSearch(datagram.data()))
            searched(datagram, wide);
    }
}

void PjlinkUdp::searched(const QNetworkDatagram& datagram, bool wide) {
    const QHostAddress from = plain(datagram.senderAddress());
    const quint16 port = quint16(datagram.senderPort());
    if (from.isNull() || port == 0 || from.isMulticast() || from == QHostAddress::Broadcast)
        return;
    // The every-address socket takes only broadcasts and multicasts: a search sent to another
    // address of this machine is for whoever serves that one.
    const std::int64_t now = guard_.clock().nowMs();
    const QHostAddress to = plain(datagram.destinationAddress());
    // (All of 127/8 and ::1 are this machine's, though no interface lists them.)
    const bool toThisMachine = to.isLoopback() || localAddresses(now).contains(to);
    if (wide && toThisMachine)
        return;
    const QString name = listen::AddressKey::printable(from, port);
    // As every listener counts them: an IPv6 /64 is one sender, so that one host cycling
    // through its addresses cannot take every waiting answer.
    const std::string key = listen::AddressKey::of(from).toStdString();
    if (!limiter_.admit(key, now)) {
        guard_.log().event(QString::fromStdString(key), QStringLiteral("search not answered"),
                           QStringLiteral("search from %1 not answered (one a second, %2 "
                                          "waiting)")
                               .arg(name)
                               .arg(limiter_.pending()));
        return;
    }
    Answer answer;
    answer.dueMs = now + std::clamp(random_(maxDelayMs_), 0, maxDelayMs_);
    answer.to = from;
    answer.port = port;
    answer.key = key;
    // From the address the search was sent to, on a socket bound to every address: a machine
    // with several answers from the one the controller asked.
    const bool sameFamily = socket_.localAddress().protocol() == to.protocol();
    if (!wide && toThisMachine && wildcard(socket_.localAddress()) && sameFamily) {
        answer.from = datagram.destinationAddress();
        answer.interfaceIndex = datagram.interfaceIndex();
    }
    answer.datagram =
        "%2ACKN=" +
        macFor(from, datagram.destinationAddress(), int(datagram.interfaceIndex())).toLatin1() +
        '\r';
    if (settings_.verbose)
        guard_.log().line(
            QStringLiteral("search from %1: answer in %2 ms").arg(name).arg(answer.dueMs - now));
    const auto at = std::upper_bound(
        waiting_.begin(), waiting_.end(), answer.dueMs,
        [](std::int64_t due, const Answer& waiting) { return due < waiting.dueMs; });
    waiting_.insert(at, std::move(answer));
    arm();
}

void PjlinkUdp::arm() {
    if (waiting_.empty()) {
        timer_->setEnabled(false);
        return;
    }
    const std::int64_t wait = waiting_.front().dueMs - guard_.clock().nowMs();
    timer_->setInterval(int(std::max<std::int64_t>(wait, 0)));
    timer_->setEnabled(true);
}

void PjlinkUdp::answerDue() {
    timer_->setEnabled(false);
    const std::int64_t now = guard_.clock().nowMs();
    while (!waiting_.empty() && waiting_.front().dueMs <= now) {
        const Answer answer = std::move(waiting_.front());
        waiting_.erase(waiting_.begin());
        bool sent = false;
        QString why;
        if (answer.from.protocol() == QAbstractSocket::IPv4Protocol) {
            sent = sendFrom(int(socket_.socketDescriptor()), answer.datagram, answer.to,
                            answer.port, answer.from);
            why = QString::fromLocal8Bit(std::strerror(errno));
        } else {
            // IPv6's packet information carries the source where the kernel reads it.
            QNetworkDatagram reply(answer.datagram, answer.to, answer.port);
            if (!answer.from.isNull()) {
                reply.setSender(answer.from, socket_.localPort());
                reply.setInterfaceIndex(answer.interfaceIndex);
            }
            sent = socket_.writeDatagram(reply) >= 0;
            why = socket_.errorString();
        }
        if (!sent) {
            limiter_.dropped(answer.key, now);
            guard_.log().event(
                QString::fromStdString(answer.key), QStringLiteral("search answer not sent"),
                QStringLiteral("search answer to %1 not sent: %2")
                    .arg(listen::AddressKey::printable(answer.to, answer.port), why));
        } else {
            limiter_.answered(answer.key, now);
        }
    }
    arm();
}

const QList<QHostAddress>& PjlinkUdp::localAddresses(std::int64_t nowMs) {
    // Asking the system for every address costs far more than a datagram: a flood of searches
    // asks it once every few seconds.
    if (!localsAtMs_ || nowMs - *localsAtMs_ >= kLocalAddressesMs) {
        locals_.clear();
        for (const QHostAddress& address : QNetworkInterface::allAddresses())
            locals_.append(plain(address));
        localsAtMs_ = nowMs;
    }
    return locals_;
}

QString PjlinkUdp::macFor(const QHostAddress& peer, const QHostAddress& to,
                          int interfaceIndex) const {
    if (!settings_.mac.isEmpty())
        return settings_.mac;
    // The interface of the address the search was sent to; else the one it came in on; else
    // the one serving the bridge's own address, or whose network holds the peer. The loopback
    // has no MAC address of its own: a search from this machine gets a real one all the same.
    const QHostAddress own = plain(socket_.localAddress());
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    const auto first = [&](const std::function<bool(const QNetworkInterface&,
                                                    const QNetworkAddressEntry&)>& fits) {
        for (const QNetworkInterface& interface : interfaces) {
            const QString mac = macOf(interface);
            if (mac.isEmpty() || mac == kNoMac)
                continue;
            for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
                if (fits(interface, entry))
                    return mac;
            }
        }
        return QString();
    };
    QString mac = first([&](const QNetworkInterface&, const QNetworkAddressEntry& entry) {
        return !to.isNull() && plain(entry.ip()) == plain(to);
    });
    if (mac.isEmpty())
        mac = first([&](const QNetworkInterface& interface, const QNetworkAddressEntry&) {
            return interfaceIndex > 0 && interface.index() == interfaceIndex;
        });
    if (mac.isEmpty())
        mac = first([&](const QNetworkInterface&, const QNetworkAddressEntry& entry) {
            return !wildcard(own) ? plain(entry.ip()) == own
                                  : plain(peer).isInSubnet(entry.ip(), entry.prefixLength());
        });
    return mac.isEmpty() ? anyMac() : mac;
}

void PjlinkUdp::setTargets(const QList<NotifyTarget>& targets) {
    for (const Target& target : targets_) {
        if (target.lookupId >= 0)
            QHostInfo::abortHostLookup(target.lookupId);
    }
    ++generation_;
    targets_.clear();
    for (const NotifyTarget& given : targets) {
        Target target;
        target.target = given;
        const QHostAddress literal(given.host);
        if (!literal.isNull())
            target.address = literal;
        targets_.push_back(std::move(target));
    }
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        if (!targets_[i].address)
            lookUp(i);
    }
}

void PjlinkUdp::lookUp(std::size_t index) {
    Target& target = targets_[index];
    if (target.lookupId >= 0)
        return;
    target.lookedUpMs = guard_.clock().nowMs();
    target.lookupId = QHostInfo::lookupHost(
        target.target.host, this, [this, index, generation = generation_](const QHostInfo& info) {
            looked(index, generation, info);
        });
}

void PjlinkUdp::looked(std::size_t index, int generation, const QHostInfo& info) {
    if (generation != generation_ || index >= targets_.size())
        return;
    Target& target = targets_[index];
    target.lookupId = -1;
    // An address this socket can send to: of its family, or either for one on every address.
    const QHostAddress own = socket_.localAddress();
    const auto fits = [&](const QHostAddress& address) {
        if (own == QHostAddress(QHostAddress::Any) || own.isNull())
            return true;
        return address.protocol() == own.protocol();
    };
    const QList<QHostAddress> found = info.addresses();
    const auto usable = std::find_if(found.begin(), found.end(), fits);
    if (info.error() != QHostInfo::NoError || usable == found.end()) {
        target.failed = true;
        guard_.log().event(
            target.target.host, QStringLiteral("notify lookup failed"),
            QStringLiteral("notify %1: no address (%2); tried again at a "
                           "notification a minute from now")
                .arg(target.target.text(), info.error() != QHostInfo::NoError
                                               ? info.errorString()
                                               : QStringLiteral("none of this socket's family")));
        target.waiting.clear();
        return;
    }
    target.failed = false;
    target.address = *usable;
    while (!target.waiting.empty()) {
        const NotifyRules::Notice notice = std::move(target.waiting.front());
        target.waiting.pop_front();
        send(target, notice);
    }
}

void PjlinkUdp::notify(const NotifyRules::Notice& notice) {
    const std::int64_t now = guard_.clock().nowMs();
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        Target& target = targets_[i];
        const bool named = QHostAddress(target.target.host).isNull();
        if (named && target.lookupId < 0 &&
            ((target.failed && now - target.lookedUpMs >= kLookupRetryMs) ||
             (target.address && now - target.lookedUpMs >= kLookupRefreshMs)))
            lookUp(i); // meanwhile to the address it had, if any
        if (target.address) {
            send(target, notice);
        } else if (target.lookupId >= 0) {
            if (target.waiting.size() >= kWaitingNotices)
                target.waiting.pop_front();
            target.waiting.push_back(notice);
        }
    }
}

void PjlinkUdp::send(Target& target, const NotifyRules::Notice& notice) {
    const QByteArray datagram =
        datagramOf(notice, notice.command == "LKUP" ? macFor(*target.address, {}, 0)
                                                    : QString::fromStdString(notice.value));
    if (socket_.writeDatagram(datagram, *target.address, target.target.port) < 0) {
        guard_.log().event(target.target.text(), QStringLiteral("notification not sent"),
                           QStringLiteral("notification %1 to %2 not sent: %3")
                               .arg(QString::fromLatin1(datagram.trimmed()), target.target.text(),
                                    socket_.errorString()));
        return;
    }
    if (settings_.verbose)
        guard_.log().line(QStringLiteral("notified %1: %2")
                              .arg(target.target.text(), QString::fromLatin1(datagram.trimmed())));
}

} // namespace trv::bridge::pjlink
