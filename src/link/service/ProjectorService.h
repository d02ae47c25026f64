#pragma once

#include "link/ProjectorLink.h"
#include "link/clock/Clock.h"
#include "link/service/ExchangeResult.h"
#include "link/service/LineStatistics.h"
#include "link/service/Sender.h"
#include "link/service/ServiceEvent.h"
#include "link/service/SharedValues.h"
#include "link/transport/SerialPort.h"

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace trv::service {

// The one owner of the projector's line for every front end of the daemon: one queue and one
// exchange at a time (ended by its reply's carriage return or by the reply window), the shared
// values read with the configured unit address, the reopening of a lost line, one hold at a
// time with its dead-man, the freeze and mute state set through it, the last traffic lines, and
// a stream of events for whoever shows the line.
class ProjectorService final : public QObject {
    Q_OBJECT
public:
    struct Settings {
        std::string port;         // the line as the user named it, for its state before it opens
        std::string address;      // the configured unit address ("", "AFFF", "A001".."A004")
        int replyWindowMs = 1000; // an exchange without its carriage return ends here
        int clearMs = 1200;       // the displays empty this long after a send, as on the panel
    };
    using Logger = std::function<void(const std::string& line)>;

    struct Request {
        std::string command;                // as typed, without carriage return ("C00")
        std::optional<std::string> address; // none: the configured one
        Sender sender;
        // A read asked for again while one like it still waits is answered by that one.
        bool shared = false;
        // Refused (Outcome::Held) while another sender holds: what a person asked for.
        bool yieldToHold = false;
        // Never sent while anyone holds, even when it waited since before: the daemon's own
        // reads, which can wait for the hold's end (Outcome::Held).
        bool notDuringHold = false;
        // Waits behind every other exchange that waits, whenever those were asked.
        bool background = false;
        // Still waiting this long after it was asked: answered Outcome::Late, never sent. 0: no
        // limit.
        int dueMs = 0;
    };
    enum class Outcome {
        Done,     // sent; the result says whether a reply came
        LineDown, // the line is not open (lineState().reason says why)
        Lost,     // the line was lost during the exchange
        Busy,     // too many exchanges wait
        Held,     // another sender holds the line
        Late,     // waited past its due time
        Failed,   // the write failed
    };
    using Done = std::function<void(Outcome outcome, const ExchangeResult& result)>;

    enum class HoldOutcome { Started, Held, LineDown, NotHoldCommand };

    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 10000;
    static constexpr int kAskedRetryMs = 1000;
    static constexpr std::size_t kQueueLimit = 64;
    // Of those, what people at one address (pages, scripts) may have waiting: the queue is
    // everyone's, so one address never fills it.
    static constexpr std::size_t kQueueLimitPerAddress = 8;
    static constexpr int kHoldPeriodMs = 100;
    static constexpr int kHoldReplyMs = 150; // the panel's periods during a hold
    static constexpr int kHoldClearMs = 200;
    static constexpr int kHoldKeepMs = 500;      // a hold not kept alive this long ends
    static constexpr int kHoldLongestMs = 60000; // and any hold ends after this
    static constexpr std::size_t kRecordLines = 1000;

    ProjectorService(SerialPort& port, Clock& clock, Settings settings, Logger log,
                     QObject* parent = nullptr);
    ~ProjectorService() override;

    // Opens the line, or keeps trying in the background.
    void start();
    void setSettings(const Settings& settings);
    const Settings& settings() const { return settings_; }
    void setVerbose(bool verbose) { verbose_ = verbose; }
    // The line's device has appeared (again): opened at once if the line is down.
    void deviceAppeared();

    // Queues one exchange; `done` is called exactly once, never from within this call.
    void exchange(Request request, Done done);

    // Starts a hold on one of the panel's arrow commands: sent at once and every 100 ms until
    // endHold, or until keepHold has not been called for 500 ms, or after 60 s.
    HoldOutcome startHold(const std::string& command, std::optional<std::string> address,
                          const Sender& holder);
    void keepHold(std::uint64_t holderId);
    // Ends the hold of `holderId`; nothing when it holds none.
    void endHold(std::uint64_t holderId);
    const HoldState& hold() const { return hold_; }

    const LineState& lineState() const { return line_; }
    const ProjectorLink::Display& display() const { return link_.display(); }
    const SharedValues& values() const { return values_; }
    const LineStatistics& statistics() const { return statistics_; }
    // The reply to a read with the configured address if younger than `maxAgeMs`.
    std::optional<SharedValues::Entry> freshValue(const std::string& command,
                                                  std::int64_t maxAgeMs) const;
    // As set through the service ("C43"/"C44", "C0D"/"C0E"), off again with the power.
    bool frozen() const { return frozen_; }
    bool muted() const { return muted_; }
    // The last traffic lines, oldest first, in the record's format.
    const std::deque<std::string>& record() const { return record_; }
    Clock& clock() { return clock_; }

signals:
    void event(const trv::service::ServiceEvent& event);

private:
    struct Job {
        Request request;
        std::vector<Done> waiting;
        std::int64_t askedMs = 0;
        bool hold = false;
    };

    void next();
    void nextSoon();
    bool begin(Job job);
    void holdSend();
    void arrived();
    void finish(Outcome outcome);
    void answerLater(Done done, Outcome outcome, ExchangeResult result = {});
    void count(const Job& job, Outcome outcome, const ExchangeResult& r);
    void noted(const Job& job, const ExchangeResult& r);
    void setPeriods(int replyMs, int clearMs);
    void holdTick();
    void stopHold(const char* why);
    void lost(const QString& reason);
    void reopen();
    bool tryOpen();
    bool reopenForRequest();
    void setLine(LineState line, bool always = false);
    void tellDisplay();
    void traffic(const TrafficLine& line);
    void log(const std::string& line) {
        if (log_)
            log_(line);
    }

    SerialPort& port_;
    Clock& clock_;
    Settings settings_;
    Logger log_;
    ProjectorLink link_;
    bool verbose_ = false;
    std::deque<Job> jobs_;
    std::optional<Job> current_;
    ExchangeResult result_; // of the exchange on the line
    std::unique_ptr<Timer> retry_;
    std::unique_ptr<Timer> holdTimer_;
    std::unique_ptr<Timer> keepTimer_;
    bool nextQueued_ = false;
    int retryMs_ = kFirstRetryMs;
    bool wasUp_ = false;
    std::int64_t askedTryMs_ = 0;
    bool askedTried_ = false;
    bool reopenQueued_ = false;
    bool opening_ = false;
    LineState line_;
    HoldState hold_;
    std::optional<std::string> holdAddress_;
    std::int64_t holdStartMs_ = 0;
    std::int64_t holdKeptMs_ = 0;
    bool holdDue_ = false; // a tick came while another exchange had the line
    // A tick found the hold's send unanswered and others waiting: once its reply window has
    // closed, a waiting exchange goes before the hold's next send, so that a unit that never
    // answers the arrows keeps no one out, and a late reply is never taken for another's.
    bool holdYields_ = false;
    SharedValues values_;
    LineStatistics statistics_;
    bool frozen_ = false;
    bool muted_ = false;
    std::deque<std::string> record_;
    Sender lastSender_;
    ProjectorLink::Display shown_;
};

} // namespace trv::service
