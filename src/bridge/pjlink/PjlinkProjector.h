#pragma once

#include "bridge/pjlink/PjlinkMapping.h"
#include "bridge/pjlink/ProjectorService.h"
#include "link/ProjectorLink.h"
#include "link/transport/SerialPort.h"

#include <QObject>
#include <deque>
#include <functional>
#include <optional>

namespace trv::bridge::pjlink {

// The projector behind its line as a PJLink device: requests become exchanges on the line, one
// at a time and in order, with the status read reused for a short while so that many pollers
// cost one read. A lost line is opened again on its own, sooner at first and then less often,
// and also when a request needs it (at most once a second) or its device is seen to be back.
class PjlinkProjector final : public QObject, public ProjectorService {
    Q_OBJECT
public:
    struct Settings {
        std::string name = "TRV-M5400";
        InputMap inputs;
        int cacheMs = 1000;       // how long a status read answers for
        int replyWindowMs = 1000; // as the panel waits for a reply
    };
    using Logger = std::function<void(const QString& line)>;

    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 10000;
    // A request that needs the line while it is down tries to open it at most this often.
    static constexpr int kAskedRetryMs = 1000;
    // Requests waiting for the line beyond this many are answered "unavailable".
    static constexpr std::size_t kQueueLimit = 64;

    PjlinkProjector(SerialPort& port, Clock& clock, Settings settings, Logger log,
                    QObject* parent = nullptr);

    // Opens the line, or keeps trying in the background.
    void start();
    void setSettings(Settings settings);
    void setVerbose(bool verbose) { verbose_ = verbose; }
    void setUnitAddress(const std::string& address) { link_.UnitAddress = address; }
    bool lineUp() const { return port_.isOpen(); }
    // The line's device has appeared (again): opened at once if the line is down.
    void deviceAppeared();

    void request(const std::string& command, const std::string& parameter, Reply reply) override;

private:
    using Then = std::function<void(std::optional<std::string> reply)>;
    using StatusThen = std::function<void(std::optional<ProjectorStatus>)>;
    struct Job {
        std::string command;
        std::vector<Then> waiting; // a read asked for again while queued is done once
        bool shared = false;
        std::int64_t dueMs = 0; // a set still waiting then has been answered already: not sent
    };
    // How long a set may wait for the line: the client is answered within 2 s in any case.
    static constexpr int kSetDueMs = 1500;

    void power(const std::string& parameter, Reply reply);
    void input(const std::string& parameter, Reply reply);
    void mute(const std::string& parameter, Reply reply);
    void lamp(Reply reply);
    // Sends `command` when the power is on (or as `allowed` says), answering OK on an ACK.
    void setWhen(const std::function<bool(const ProjectorStatus&)>& allowed,
                 const std::string& command, Reply reply, std::function<void()> done = {});
    void status(StatusThen then);
    void exchange(const std::string& command, Then then, bool shared = false);
    void next();
    void nextSoon();
    void arrived();
    void finish(std::optional<std::string> reply);
    void lost(const QString& reason);
    void reopen();
    SerialPort::OpenResult tryOpen();
    // Whether a request may wait for an open of the line on the next turn of the loop.
    bool reopenForRequest();

    SerialPort& port_;
    Clock& clock_;
    ProjectorLink link_;
    Settings settings_;
    Logger log_;
    bool verbose_ = false;
    std::deque<Job> jobs_;
    bool busy_ = false;
    std::optional<ProjectorStatus> cached_;
    std::int64_t cachedAtMs_ = 0;
    std::string muted_ = "30";
    std::unique_ptr<Timer> retry_;
    bool nextQueued_ = false; // the next exchange starts on its own turn of the loop
    int retryMs_ = kFirstRetryMs;
    bool wasUp_ = false;
    std::int64_t askedTryMs_ = 0; // when a request last tried the line
    bool askedTried_ = false;
    bool reopenQueued_ = false;
    bool opening_ = false;
};

} // namespace trv::bridge::pjlink
