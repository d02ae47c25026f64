#pragma once

#include "bridge/pjlink/NotifyRules.h"
#include "bridge/pjlink/NotifyTarget.h"
#include "bridge/pjlink/SearchLimiter.h"

#include <QByteArray>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QNetworkDatagram>
#include <QObject>
#include <QUdpSocket>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace trv {
class Timer;
}
namespace trv::listen {
class ListenGuard;
}

namespace trv::bridge::pjlink {

// PJLink's UDP port: answers searches (%2SRCH) with the MAC address after a random wait, within
// the search limits, and sends status notifications to the configured addresses, every
// datagram from the address that serves PJLink over TCP. The port is shared, so that several
// bridges on one machine each hear a broadcast search.
class PjlinkUdp final : public QObject {
    Q_OBJECT
public:
    struct Settings {
        QString mac; // "xx:xx:xx:xx:xx:xx"; empty: the network interface's
        QList<NotifyTarget> notify;
        bool verbose = false;
    };
    // A whole number of milliseconds from 0 to `maxMs`, each equally likely.
    using Random = std::function<int(int maxMs)>;
    static constexpr int kLongestAnswerDelayMs = 10000;
    static constexpr int kReadsPerTurn = 64;           // datagrams read before others' events
    static constexpr std::size_t kWaitingNotices = 16; // a target's, while its name is looked up
    static constexpr std::int64_t kLookupRetryMs = 60000;
    static constexpr std::int64_t kLookupRefreshMs = 600000;
    static constexpr std::int64_t kLocalAddressesMs = 5000; // how long the machine's list holds

    // `guard` gives the clock and the log, shared with the other listeners. Without `random`,
    // the system's; `maxDelayMs` bounds the wait before an answer.
    PjlinkUdp(listen::ListenGuard& guard, Settings settings, Random random = {},
              int maxDelayMs = kLongestAnswerDelayMs, SearchLimits limits = {},
              QObject* parent = nullptr);
    ~PjlinkUdp() override;

    // The address PJLink serves TCP on; port 0 picks a free one. A specific address other than
    // a loopback one also hears broadcasts through a socket on every address of its family.
    bool bind(const QHostAddress& host, quint16 port, QString& error);
    QHostAddress address() const { return socket_.localAddress(); }
    quint16 port() const { return socket_.localPort(); }
    // A changed list of targets is looked up afresh.
    void setSettings(const Settings& settings);

    // One datagram to every target, "%2POWR=1\r"; LKUP's value is this bridge's MAC address.
    void notify(const NotifyRules::Notice& notice);
    std::size_t answersWaiting() const { return waiting_.size(); }

private:
    struct Answer {
        std::int64_t dueMs = 0;
        QHostAddress to;
        quint16 port = 0;
        QByteArray datagram;
        std::string key;
        QHostAddress from; // the source to send from; null: the socket's own
        uint interfaceIndex = 0;
    };
    struct Target {
        NotifyTarget target;
        std::optional<QHostAddress> address;
        int lookupId = -1;
        std::int64_t lookedUpMs = 0;
        bool failed = false;
        std::deque<NotifyRules::Notice> waiting;
    };

    void read(QUdpSocket& socket, bool wide);
    void searched(const QNetworkDatagram& datagram, bool wide);
    void answerDue();
    void arm();
    void setTargets(const QList<NotifyTarget>& targets);
    void lookUp(std::size_t index);
    void looked(std::size_t index, int generation, const QHostInfo& info);
    void send(Target& target, const NotifyRules::Notice& notice);
    const QList<QHostAddress>& localAddresses(std::int64_t nowMs);
    QString macFor(const QHostAddress& peer, const QHostAddress& to, int interfaceIndex) const;

    listen::ListenGuard& guard_;
    Settings settings_;
    Random random_;
    int maxDelayMs_;
    SearchLimiter limiter_;
    QUdpSocket socket_;
    std::unique_ptr<QUdpSocket> wide_;
    std::unique_ptr<Timer> timer_;
    std::vector<Answer> waiting_; // by due time
    std::vector<Target> targets_;
    QList<QHostAddress> locals_;
    std::optional<std::int64_t> localsAtMs_;
    int generation_ = 0; // of the targets, so that a late lookup of a replaced one is ignored
};

} // namespace trv::bridge::pjlink
