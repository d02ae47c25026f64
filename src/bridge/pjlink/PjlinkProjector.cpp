#include "bridge/pjlink/PjlinkProjector.h"

namespace trv::bridge::pjlink {
namespace {

const std::string kOk = "OK";
const std::string kUndefined = "ERR1";
const std::string kOutOfParameter = "ERR2";
const std::string kUnavailable = "ERR3";
const std::string kFailure = "ERR4";

bool poweredOn(const ProjectorStatus& status) { return status.power == ProjectorStatus::Power::On; }

} // namespace

PjlinkProjector::PjlinkProjector(SerialPort& port, Clock& clock, Settings settings, Logger log,
                                 QObject* parent)
    : QObject(parent), port_(port), clock_(clock), link_(port, clock),
      settings_(std::move(settings)), log_(std::move(log)),
      retry_(clock.createTimer(kFirstRetryMs, false)) {
    // The displays are never looked at; only the reply window matters.
    link_.timer2().setInterval(settings_.replyWindowMs);
    link_.timer4().setInterval(settings_.replyWindowMs + 3600 * 1000);
    connect(&link_, &ProjectorLink::displayChanged, this, &PjlinkProjector::arrived);
    connect(&link_.timer2(), &Timer::timeout, this, [this] {
        if (busy_)
            finish(std::nullopt);
    });
    connect(&port_, &SerialPort::linkLost, this, &PjlinkProjector::lost);
    connect(retry_.get(), &Timer::timeout, this, [this] {
        retry_->setEnabled(false);
        reopen();
    });
}

void PjlinkProjector::setSettings(Settings settings) {
    settings_ = std::move(settings);
    link_.timer2().setInterval(settings_.replyWindowMs);
    cached_.reset();
}

void PjlinkProjector::start() { reopen(); }

SerialPort::OpenResult PjlinkProjector::tryOpen() {
    // Opening a network line runs the event loop, in which another try may come due.
    if (opening_)
        return {false, QStringLiteral("being opened")};
    opening_ = true;
    const SerialPort::OpenResult result = port_.open();
    opening_ = false;
    if (result.ok) {
        log_(wasUp_ ? QStringLiteral("line back") : QStringLiteral("line open"));
        wasUp_ = true;
        retryMs_ = kFirstRetryMs;
        retry_->setEnabled(false);
    }
    return result;
}

void PjlinkProjector::reopen() {
    if (port_.isOpen())
        return;
    if (opening_) {
        retry_->setInterval(retryMs_);
        retry_->setEnabled(true);
        return;
    }
    const SerialPort::OpenResult result = tryOpen();
    if (result.ok)
        return;
    log_(QStringLiteral("line not open (%1); next try in %2 s")
             .arg(result.reason)
             .arg(retryMs_ / 1000));
    retry_->setInterval(retryMs_);
    retry_->setEnabled(true);
    retryMs_ = std::min(retryMs_ * 2, kLastRetryMs);
}

void PjlinkProjector::deviceAppeared() {
    if (port_.isOpen())
        return;
    // A device node may appear before it may be opened (its permissions come a moment later):
    // the tries start again from the shortest wait.
    retryMs_ = kFirstRetryMs;
    retry_->setEnabled(false);
    reopen();
    if (port_.isOpen() && !jobs_.empty())
        nextSoon();
}

bool PjlinkProjector::reopenForRequest() {
    if (reopenQueued_)
        return true;
    const std::int64_t now = clock_.nowMs();
    if (askedTried_ && now - askedTryMs_ < kAskedRetryMs)
        return false;
    askedTried_ = true;
    askedTryMs_ = now;
    reopenQueued_ = true;
    // Not from within the request: opening a network line runs the event loop meanwhile.
    QMetaObject::invokeMethod(
        this,
        [this] {
            reopenQueued_ = false;
            // A failure here is not logged: the scheduled tries say how the line is.
            if (!port_.isOpen())
                tryOpen();
            nextSoon();
        },
        Qt::QueuedConnection);
    return true;
}

void PjlinkProjector::lost(const QString& reason) {
    log_(QStringLiteral("line lost: %1").arg(reason));
    cached_.reset();
    // What still waits cannot be done until the line is back.
    while (!jobs_.empty())
        finish(std::nullopt);
    retryMs_ = kFirstRetryMs;
    retry_->setInterval(retryMs_);
    retry_->setEnabled(true);
    retryMs_ = std::min(retryMs_ * 2, kLastRetryMs);
}

void PjlinkProjector::request(const std::string& command, const std::string& parameter,
                              Reply reply) {
    const bool query = parameter == "?";
    const auto information = [&](const std::string& value) {
        reply(query ? value : kOutOfParameter);
    };
    if (command == "POWR")
        return power(parameter, std::move(reply));
    if (command == "INPT")
        return input(parameter, std::move(reply));
    if (command == "AVMT")
        return mute(parameter, std::move(reply));
    if (command == "LAMP")
        return query ? lamp(std::move(reply)) : reply(kOutOfParameter);
    if (command == "ERST") {
        if (!query)
            return reply(kOutOfParameter);
        return status([reply = std::move(reply)](std::optional<ProjectorStatus> status) {
            reply(status ? status->errorValue() : kFailure);
        });
    }
    // Asked at start-up in any power state: answered without the line.
    if (command == "NAME")
        return information(settings_.name);
    if (command == "INF1")
        return information("ZEKO");
    if (command == "INF2")
        return information("TRV-M5400");
    if (command == "INFO")
        return information("RS-232C projector");
    if (command == "CLSS")
        return information("1");
    if (command == "INST")
        return information(settings_.inputs.list());
    reply(kUndefined);
}

void PjlinkProjector::power(const std::string& parameter, Reply reply) {
    using Power = ProjectorStatus::Power;
    if (parameter == "?") {
        return status([reply = std::move(reply)](std::optional<ProjectorStatus> status) {
            const auto value = status ? status->powerValue() : std::nullopt;
            reply(value ? *value : kFailure);
        });
    }
    if (parameter == "1") {
        return setWhen([](const ProjectorStatus& s) { return s.power != Power::Cooling; }, "C00",
                       std::move(reply));
    }
    if (parameter == "0") {
        return setWhen([](const ProjectorStatus& s) { return s.power != Power::WarmingUp; }, "C01",
                       std::move(reply), [this] { muted_ = "30"; });
    }
    reply(kOutOfParameter);
}

void PjlinkProjector::input(const std::string& parameter, Reply reply) {
    if (parameter == "?") {
        return exchange(
            "CR1",
            [this, reply = std::move(reply)](std::optional<std::string> r) {
                const std::optional<int> input = r ? decodeInput(*r) : std::nullopt;
                const auto code = input ? settings_.inputs.code(*input) : std::nullopt;
                reply(code ? *code : kFailure);
            },
            true);
    }
    const std::optional<int> input = settings_.inputs.selectable(parameter);
    if (!input)
        return reply(kOutOfParameter);
    setWhen(poweredOn, "C0" + std::to_string(4 + *input), std::move(reply));
}

void PjlinkProjector::mute(const std::string& parameter, Reply reply) {
    if (parameter == "?")
        return reply(muted_);
    // The projector mutes its picture only: the picture and sound together act on the picture.
    if (parameter == "11" || parameter == "31")
        return setWhen(poweredOn, "C0D", std::move(reply),
                       [this, parameter] { muted_ = parameter; });
    if (parameter == "10" || parameter == "30")
        return setWhen(poweredOn, "C0E", std::move(reply), [this] { muted_ = "30"; });
    reply(kOutOfParameter);
}

void PjlinkProjector::lamp(Reply reply) {
    exchange(
        "CR3",
        [this, reply = std::move(reply)](std::optional<std::string> r) {
            const std::optional<int> hours = r ? decodeLampHours(*r) : std::nullopt;
            if (!hours)
                return reply(kFailure);
            status([reply, hours](std::optional<ProjectorStatus> status) {
                if (!status)
                    return reply(kFailure);
                const bool lit = status->power == ProjectorStatus::Power::On ||
                                 status->power == ProjectorStatus::Power::WarmingUp;
                reply(std::to_string(*hours) + (lit ? " 1" : " 0"));
            });
        },
        true);
}

void PjlinkProjector::setWhen(const std::function<bool(const ProjectorStatus&)>& allowed,
                              const std::string& command, Reply reply, std::function<void()> done) {
    status([=, this](std::optional<ProjectorStatus> status) {
        if (!status)
            return reply(kFailure);
        if (!allowed(*status))
            return reply(kUnavailable);
        exchange(command, [=, this](std::optional<std::string> r) {
            // Whatever it did, the state read before no longer holds.
            cached_.reset();
            const bool acknowledged = r && r->find('\x06') != std::string::npos;
            if (acknowledged && done)
                done();
            reply(acknowledged ? kOk : kFailure);
        });
    });
}

void PjlinkProjector::status(StatusThen then) {
    if (cached_ && clock_.nowMs() - cachedAtMs_ < settings_.cacheMs)
        return then(cached_);
    exchange(
        "CR0",
        [this, then = std::move(then)](std::optional<std::string> r) {
            std::optional<ProjectorStatus> status = r ? decodeStatus(*r) : std::nullopt;
            if (status) {
                cached_ = status;
                cachedAtMs_ = clock_.nowMs();
                if (status->power == ProjectorStatus::Power::Standby ||
                    status->power == ProjectorStatus::Power::Cooling)
                    muted_ = "30"; // the picture comes back unmuted with the next power-on
            }
            then(status);
        },
        true);
}

void PjlinkProjector::exchange(const std::string& command, Then then, bool shared) {
    if (!port_.isOpen() && !reopenForRequest())
        return then(std::nullopt);
    if (shared) {
        // The same read already waiting answers this request too.
        for (Job& job : jobs_) {
            if (job.command == command) {
                job.waiting.push_back(std::move(then));
                return;
            }
        }
    }
    if (jobs_.size() >= kQueueLimit) {
        log_(QStringLiteral("busy: %1 requests wait for the line").arg(jobs_.size()));
        return then(std::nullopt);
    }
    jobs_.push_back({command, {std::move(then)}, shared, clock_.nowMs() + kSetDueMs});
    nextSoon();
}

void PjlinkProjector::nextSoon() {
    if (nextQueued_)
        return;
    nextQueued_ = true;
    QMetaObject::invokeMethod(this, &PjlinkProjector::next, Qt::QueuedConnection);
}

void PjlinkProjector::next() {
    nextQueued_ = false;
    if (busy_ || jobs_.empty())
        return;
    if (!port_.isOpen() || (!jobs_.front().shared && clock_.nowMs() > jobs_.front().dueMs)) {
        finish(std::nullopt);
        return;
    }
    link_.commandText = jobs_.front().command + '\r';
    // A late reply to the exchange before is taken by the send and is not this one's.
    if (!link_.Hyouji(link_.commandText, 1)) {
        finish(std::nullopt);
        return;
    }
    busy_ = true;
}

void PjlinkProjector::arrived() {
    if (busy_ && link_.replyComplete())
        finish(link_.receiveBuffer());
}

void PjlinkProjector::finish(std::optional<std::string> reply) {
    if (jobs_.empty())
        return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    if (busy_) {
        busy_ = false;
        link_.timer2().setEnabled(false);
        link_.resetExchange();
        if (verbose_) {
            log_(QStringLiteral("exchange %1: %2")
                     .arg(QString::fromStdString(job.command),
                          reply ? QString::fromLatin1(reply->data(), qsizetype(reply->size()))
                                      .replace(QLatin1Char('\r'), QLatin1String("[CR]"))
                                      .replace(QLatin1Char('\x06'), QLatin1String("[ACK]"))
                                : QStringLiteral("no reply")));
        }
    }
    for (Then& then : job.waiting)
        then(reply);
    if (!jobs_.empty())
        nextSoon();
}

} // namespace trv::bridge::pjlink
