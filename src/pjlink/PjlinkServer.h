#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <functional>

namespace trv::pjlink {

class PjlinkConnection;
class ProjectorService;

// The PJLink port: accepts clients up to a limit and gives each a connection of its own, all
// asking the one projector service.
class PjlinkServer : public QObject {
    Q_OBJECT
public:
    static constexpr int kAcceptRetryMs = 1000;

    struct Options {
        QString password; // empty: no authentication
        int maxClients = 64;
        int idleMs = 30000; // a connection without a request this long is closed
        // How long a request may wait for the projector service before it is answered ERR3
        // here, so that every reply comes in time; 0 waits for the service however long.
        int replyLimitMs = 2000;
        bool verbose = false; // log every request and reply
    };
    // Takes one line for the log, without a line end.
    using Logger = std::function<void(const QString&)>;

    PjlinkServer(ProjectorService& service, Options options, Logger log, QObject* parent = nullptr);
    ~PjlinkServer() override;

    // Any address, IPv4 or IPv6; port 0 picks a free one. On failure `error` says why.
    bool listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 port() const { return server_.serverPort(); }
    QHostAddress address() const { return server_.serverAddress(); }
    // For connections accepted from now on.
    void setOptions(const Options& options) { options_ = options; }

    // Stops listening and closes every connection once its replies are out; closed() follows
    // when the last has gone.
    void closeAll();
    int connectionCount() const { return int(connections_.size()); }
    QList<PjlinkConnection*> connections() const { return connections_; }

signals:
    void closed();

private:
    void accept();
    void finished(PjlinkConnection* connection);

    ProjectorService& service_;
    Options options_;
    Logger log_;
    QTcpServer server_;
    QList<PjlinkConnection*> connections_;
    quint64 accepted_ = 0;
    bool closing_ = false;
};

} // namespace trv::pjlink
