#pragma once

#include "bridge/pjlink/PjlinkRequest.h"
#include "bridge/pjlink/PjlinkServer.h"
#include "link/service/Sender.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <deque>
#include <string>

class QTcpSocket;

namespace trv::listen {
class ListenGuard;
}

namespace trv::bridge::pjlink {

class PjlinkDevice;

// One PJLink client: the greeting and authentication, its requests read in order and answered
// in order, one at a time to the projector service, and the limits that keep a client from
// costing more than its share.
class PjlinkConnection : public QObject {
    Q_OBJECT
public:
    // Requests read ahead of the one being answered; beyond this the socket is not read, so a
    // flooding client is held back by TCP itself.
    static constexpr int kMaxWaiting = 16;
    // Replies not yet taken by a client beyond what the system buffers; more and it is cut off.
    static constexpr qint64 kMaxUnsent = 64 * 1024;
    static constexpr qint64 kReadBuffer = 4096;
    // How long a closing connection may take to hand over its last replies.
    static constexpr int kCloseGraceMs = 5000;

    // Takes over `socket`; start() sends the greeting.
    PjlinkConnection(QTcpSocket* socket, PjlinkDevice& service,
                     const PjlinkServer::Options& options, listen::ListenGuard& guard,
                     PjlinkServer::Peer peer, QObject* parent = nullptr);
    ~PjlinkConnection() override;

    // Greets the client, or ends at once (finished()) when it has gone already.
    void start();
    // Ends if the socket has gone without its end being noticed.
    void endIfGone();
    // Closes once the replies already made are out; requests not yet answered are dropped.
    void close(const QString& reason);
    // Requests read and waiting for their turn, not counting the one being answered.
    int waiting() const { return int(queue_.size()); }
    bool authenticated() const { return authenticated_; }
    const QString& name() const { return peer_.name; }
    const PjlinkServer::Peer& peer() const { return peer_; }

signals:
    // The connection has ended; it may be deleted later.
    void finished(PjlinkConnection* connection);
    // A request came: the connection is not idle.
    void active();

private:
    // A line read, in its turn: a request for the projector service, an answer known at once,
    // or the refusal of authentication that ends the connection.
    struct Item {
        enum class Kind { Ask, Answer, Deny } kind;
        PjlinkRequest request;
        std::string reply; // for Answer
    };

    void work();
    bool readLines();
    bool dispatch();
    void take(const std::string& line);
    bool digestMatches(const std::string& digest) const;
    void answered(quint64 sequence, const std::string& value);
    void replyLate();
    void send(const std::string& line);
    void drain();
    void ended();
    // What the socket may still give: nothing once it or the connection has closed.
    bool readable() const;
    // Lines of one `kind` (by default the line itself) from one address are summarised.
    void log(const QString& line, const QString& kind = {}) const;

    QTcpSocket* socket_;
    PjlinkDevice& service_;
    listen::ListenGuard& guard_;
    PjlinkServer::Peer peer_;
    service::Sender sender_; // as the line's traffic names this client
    QByteArray password_;
    QByteArray random_;
    int idleMs_;
    int replyLimitMs_;
    bool verbose_;

    PjlinkRequest::Splitter splitter_;
    std::string input_; // read from the socket, not yet through the splitter
    std::size_t inputAt_ = 0;
    std::deque<Item> queue_;
    bool authenticated_ = false;
    bool denied_ = false;      // nothing more is read after a refused authentication
    bool outstanding_ = false; // a request is with the projector service
    PjlinkRequest asked_;      // that request
    quint64 sequence_ = 0;     // tells its reply from a late one to an earlier request
    bool working_ = false;
    bool closing_ = false;
    bool ended_ = false;
    QString reason_;
    QTimer idle_;
    QTimer replyLimit_;
    QTimer grace_;
};

} // namespace trv::bridge::pjlink
