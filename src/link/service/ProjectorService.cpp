#include "link/service/ProjectorService.h"

#include "link/ReplyDecoder.h"
#include "link/panel/PanelLayout.h"

#include <QMetaObject>
#include <algorithm>
#include <array>
#include <atomic>
#include <string_view>

namespace trv::service {
namespace {

bool isRead(const std::string& command) { return command.rfind("CR", 0) == 0; }

bool acknowledged(const std::string& reply) { return reply.find('\x06') != std::string::npos; }

} // namespace

std::string Sender::label() const {
    const char* kind = this->kind == Kind::Web      ? "web"
                       : this->kind == Kind::Api    ? "api"
                       : this->kind == Kind::Pjlink ? "pjlink"
                                                    : "bridge";
    return address.empty() ? std::string(kind) : std::string(kind) + ' ' + address;
}

std::uint64_t Sender::nextId() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

std::optional<SharedValues::Entry> SharedValues::get(const std::string& command) const {
    const auto it = entries_.find(command);
    if (it == entries_.end())
        return std::nullopt;
    return it->second;
}

std::optional<SharedValues::Entry>
SharedValues::fresh(const std::string& command, std::int64_t nowMs, std::int64_t maxAgeMs) const {
    std::optional<Entry> entry = get(command);
    if (entry && nowMs - entry->atMs >= maxAgeMs)
        entry.reset();
    return entry;
}

void SharedValues::put(const std::string& command, std::string reply, std::int64_t atMs) {
    entries_[command] = {std::move(reply), atMs};
}

ProjectorService::ProjectorService(SerialPort& port, Clock& clock, Settings settings, Logger log,
                                   QObject* parent)
    : QObject(parent), port_(port), clock_(clock), settings_(std::move(settings)),
      log_(std::move(log)), link_(port, clock), retry_(clock.createTimer(kFirstRetryMs, false)),
      holdTimer_(clock.createTimer(kHoldPeriodMs, true)),
      keepTimer_(clock.createTimer(kHoldKeepMs, true)) {
    line_.port = settings_.port;
    setPeriods(settings_.replyWindowMs, settings_.clearMs);
    link_.setTap([this](const TrafficLine& line) { traffic(line); });
    connect(&link_, &ProjectorLink::displayChanged, this, &ProjectorService::arrived);
    // After the link's own handler: the mark of a missing reply is on the display by then.
    connect(&link_.timer2(), &Timer::timeout, this, [this] {
        if (current_)
            finish(Outcome::Done);
    });
    connect(&port_, &SerialPort::opened, this,
            [this](const QString& name) { line_.port = name.toStdString(); });
    connect(&port_, &SerialPort::linkLost, this, &ProjectorService::lost);
    connect(retry_.get(), &Timer::timeout, this, [this] {
        retry_->setEnabled(false);
        reopen();
    });
    connect(holdTimer_.get(), &Timer::timeout, this, &ProjectorService::holdTick);
    connect(keepTimer_.get(), &Timer::timeout, this, [this] { stopHold("no keep-alive"); });
}

ProjectorService::~ProjectorService() = default;

void ProjectorService::setSettings(const Settings& settings) {
    const bool addressChanged = settings.address != settings_.address;
    settings_ = settings;
    if (line_.port.empty() || !port_.isOpen())
        line_.port = settings_.port;
    if (!hold_.active)
        setPeriods(settings_.replyWindowMs, settings_.clearMs);
    // Values read for another unit are not this one's.
    if (addressChanged)
        values_.clear();
}

void ProjectorService::setPeriods(int replyMs, int clearMs) {
    link_.timer2().setInterval(replyMs);
    link_.timer4().setInterval(clearMs);
}

void ProjectorService::start() { reopen(); }

void ProjectorService::setLine(LineState line, bool always) {
    if (line == line_ && !always)
        return;
    line_ = std::move(line);
    ServiceEvent e;
    e.kind = ServiceEvent::Kind::Line;
    e.line = line_;
    emit event(e);
}

bool ProjectorService::tryOpen() {
    // Opening a network line runs the event loop, in which another try may come due.
    if (opening_)
        return false;
    opening_ = true;
    const SerialPort::OpenResult result = port_.open();
    opening_ = false;
    if (!result.ok) {
        line_.reason = result.reason.toStdString(); // told with the next try's wait
        return false;
    }
    log(wasUp_ ? "line back" : "line open");
    wasUp_ = true;
    retryMs_ = kFirstRetryMs;
    retry_->setEnabled(false);
    setLine({true, line_.port, {}, -1});
    return true;
}

void ProjectorService::reopen() {
    if (port_.isOpen())
        return;
    if (opening_) {
        retry_->setInterval(retryMs_);
        retry_->setEnabled(true);
        return;
    }
    if (tryOpen())
        return;
    log("line not open (" + line_.reason + "); next try in " + std::to_string(retryMs_ / 1000) +
        " s");
    retry_->setInterval(retryMs_);
    retry_->setEnabled(true);
    // Told at every try, so that a countdown starts afresh even when the wait is the same.
    setLine({false, line_.port, line_.reason, retryMs_}, true);
    retryMs_ = std::min(retryMs_ * 2, kLastRetryMs);
}

void ProjectorService::deviceAppeared() {
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

bool ProjectorService::reopenForRequest() {
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

void ProjectorService::lost(const QString& reason) {
    log("line lost: " + reason.toStdString());
    ++statistics_.lineLosses;
    if (hold_.active)
        stopHold("line lost");
    if (current_)
        finish(Outcome::Lost);
    // What still waits cannot be done until the line is back.
    while (!jobs_.empty()) {
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        for (Done& done : job.waiting)
            answerLater(std::move(done), Outcome::Lost);
    }
    retryMs_ = kFirstRetryMs;
    retry_->setInterval(retryMs_);
    retry_->setEnabled(true);
    setLine({false, line_.port, reason.toStdString(), retryMs_});
    retryMs_ = std::min(retryMs_ * 2, kLastRetryMs);
}

void ProjectorService::answerLater(Done done, Outcome outcome, ExchangeResult result) {
    QMetaObject::invokeMethod(
        this,
        [done = std::move(done), outcome, result = std::move(result)] { done(outcome, result); },
        Qt::QueuedConnection);
}

void ProjectorService::exchange(Request request, Done done) {
    ExchangeResult refused;
    refused.command = request.command;
    refused.sentAtMs = clock_.nowMs();
    if ((request.yieldToHold || request.notDuringHold) && hold_.active &&
        hold_.holder.id != request.sender.id)
        return answerLater(std::move(done), Outcome::Held, refused);
    if (!port_.isOpen() && !reopenForRequest())
        return answerLater(std::move(done), Outcome::LineDown, refused);
    const std::string address = request.address.value_or(settings_.address);
    if (request.shared) {
        // The same read already on the line, or waiting, answers this request too: its reply
        // comes after the request did.
        if (current_ && !current_->hold && current_->request.shared &&
            current_->request.command == request.command &&
            current_->request.address.value_or(settings_.address) == address) {
            current_->waiting.push_back(std::move(done));
            return;
        }
        for (Job& job : jobs_) {
            // Not one the hold would refuse for this request's sake, nor the other way round.
            if (job.request.shared && job.request.command == request.command &&
                job.request.notDuringHold == request.notDuringHold &&
                job.request.address.value_or(settings_.address) == address) {
                job.waiting.push_back(std::move(done));
                return;
            }
        }
    }
    const auto person = [](const Sender& s) {
        return s.kind == Sender::Kind::Web || s.kind == Sender::Kind::Api;
    };
    if (person(request.sender) && std::count_if(jobs_.begin(), jobs_.end(), [&](const Job& job) {
                                      return person(job.request.sender) &&
                                             job.request.sender.address == request.sender.address;
                                  }) >= std::ptrdiff_t(kQueueLimitPerAddress))
        return answerLater(std::move(done), Outcome::Busy, refused);
    if (jobs_.size() >= kQueueLimit) {
        log("busy: " + std::to_string(jobs_.size()) + " requests wait for the line");
        return answerLater(std::move(done), Outcome::Busy, refused);
    }
    Job job;
    job.request = std::move(request);
    job.waiting.push_back(std::move(done));
    job.askedMs = clock_.nowMs();
    const auto at = job.request.background
                        ? jobs_.end()
                        : std::find_if(jobs_.begin(), jobs_.end(), [](const Job& waiting) {
                              return waiting.request.background;
                          });
    jobs_.insert(at, std::move(job));
    nextSoon();
}

void ProjectorService::nextSoon() {
    if (nextQueued_)
        return;
    nextQueued_ = true;
    QMetaObject::invokeMethod(this, &ProjectorService::next, Qt::QueuedConnection);
}

void ProjectorService::next() {
    nextQueued_ = false;
    if (current_)
        return;
    // A hold's send that came due while another exchange had the line goes first, unless the
    // hold yields this once.
    if (holdYields_ && !jobs_.empty())
        holdYields_ = false;
    else if (holdDue_ && hold_.active) {
        holdSend();
        return;
    }
    while (!current_ && !jobs_.empty()) {
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        const Outcome refusal =
            !port_.isOpen()                             ? Outcome::LineDown
            : job.request.notDuringHold && hold_.active ? Outcome::Held
            : job.request.dueMs > 0 && clock_.nowMs() - job.askedMs > job.request.dueMs
                ? Outcome::Late
                : Outcome::Done;
        if (refusal != Outcome::Done) {
            ExchangeResult result;
            result.command = job.request.command;
            for (Done& done : job.waiting)
                answerLater(std::move(done), refusal, result);
            continue;
        }
        begin(std::move(job));
    }
}

bool ProjectorService::begin(Job job) {
    const Request& request = job.request;
    // A hold's sends have the panel's short windows; other exchanges keep the daemon's own.
    if (job.hold)
        setPeriods(kHoldReplyMs, kHoldClearMs);
    else
        setPeriods(settings_.replyWindowMs, hold_.active ? kHoldClearMs : settings_.clearMs);
    link_.UnitAddress = request.address.value_or(settings_.address);
    link_.commandText = request.command + '\r';
    lastSender_ = request.sender;
    result_ = {};
    result_.command = request.command;
    result_.sentAtMs = clock_.nowMs();
    // A late reply to the exchange before is taken by the send and is not this one's.
    if (!link_.Hyouji(link_.commandText, 1)) {
        for (Done& done : job.waiting)
            answerLater(std::move(done), Outcome::Failed, result_);
        return false;
    }
    result_.sent = link_.commandText;
    current_ = std::move(job);
    return true;
}

void ProjectorService::arrived() {
    tellDisplay();
    if (!current_ || link_.receiveBuffer().empty())
        return;
    // The end of the reply window empties the receive buffer before it is seen here: keep each
    // arrival, so that a reply cut short is still there.
    result_.received = link_.receiveBuffer();
    if (auto shown = decodeReply(link_.commandText, link_.display().rx, result_.received.size())) {
        result_.decoded = std::move(shown);
        result_.value = ReplyValue::decode(link_.commandText, result_.received);
    }
    if (link_.replyComplete()) {
        result_.replied = true;
        result_.replyMs = clock_.nowMs() - result_.sentAtMs;
        finish(Outcome::Done);
    }
}

void ProjectorService::tellDisplay() {
    if (link_.display() == shown_)
        return;
    shown_ = link_.display();
    ServiceEvent e;
    e.kind = ServiceEvent::Kind::Display;
    e.display = shown_;
    emit event(e);
}

void ProjectorService::finish(Outcome outcome) {
    if (!current_)
        return;
    Job job = std::move(*current_);
    current_.reset();
    ExchangeResult result = std::move(result_);
    result.tx = link_.display().tx;
    result.rx = link_.display().rx;
    if (!job.hold) {
        link_.timer2().setEnabled(false);
        link_.resetExchange();
    }
    if (verbose_) {
        std::string shown;
        for (const char c : result.received)
            shown += c == '\r'     ? std::string("[CR]")
                     : c == '\x06' ? std::string("[ACK]")
                                   : std::string(1, c);
        log("exchange " + job.request.command + ": " + (result.replied ? shown : "no reply"));
    }
    count(job, outcome, result);
    if (outcome == Outcome::Done)
        noted(job, result);
    for (Done& done : job.waiting)
        done(outcome, result);
    if (!jobs_.empty() || holdDue_)
        nextSoon();
}

void ProjectorService::count(const Job& job, Outcome outcome, const ExchangeResult& r) {
    if (outcome != Outcome::Done && outcome != Outcome::Lost)
        return;
    ++statistics_.exchanges;
    if (outcome == Outcome::Lost)
        ++statistics_.lost;
    else if (r.replied)
        statistics_.replied(r.replyMs);
    // A hold's send cut short by its next tick had no full window to miss its reply in.
    else if (!job.hold || clock_.nowMs() - r.sentAtMs >= kHoldReplyMs)
        ++statistics_.noReply;
}

void ProjectorService::noted(const Job& job, const ExchangeResult& r) {
    // Only the configured unit's replies tell what every front end shows; a set to any unit
    // (all of them, or one the configured address does not name) may have changed it.
    const bool ours = job.request.address.value_or(settings_.address) == settings_.address;
    const std::string& command = job.request.command;
    bool changed = false;
    if (isRead(command)) {
        if (!r.replied || !ours)
            return;
        values_.put(command, r.received, clock_.nowMs());
        changed = true;
        if (command == "CR0" && r.value) {
            const auto* read = std::get_if<ReplyValue::StatusRead>(&r.value->read);
            // The picture comes back unfrozen and unmuted with the next power-on.
            if (read && (read->power == ReplyValue::Power::Standby ||
                         read->power == ReplyValue::Power::Cooling)) {
                frozen_ = muted_ = false;
            }
        }
    } else if (!PanelLayout::isHoldCommand(command)) {
        // Whatever it did, the state read before no longer holds; an arrow (the menu, the lens,
        // the keystone) leaves the power, input and settings as they were.
        for (const char* read : {"CR0", "CR1", "CR4"})
            values_.forget(read);
        changed = true;
        if (ours && acknowledged(r.received)) {
            if (command == "C43" || command == "C44")
                frozen_ = command == "C43";
            else if (command == "C0D" || command == "C0E")
                muted_ = command == "C0D";
            else if (command == "C01")
                frozen_ = muted_ = false;
        }
    }
    if (changed) {
        ServiceEvent e;
        e.kind = ServiceEvent::Kind::Values;
        emit event(e);
    }
}

std::optional<SharedValues::Entry> ProjectorService::freshValue(const std::string& command,
                                                                std::int64_t maxAgeMs) const {
    if (!port_.isOpen())
        return std::nullopt;
    return values_.fresh(command, clock_.nowMs(), maxAgeMs);
}

ProjectorService::HoldOutcome ProjectorService::startHold(const std::string& command,
                                                          std::optional<std::string> address,
                                                          const Sender& holder) {
    if (!PanelLayout::isHoldCommand(command))
        return HoldOutcome::NotHoldCommand;
    if (hold_.active && hold_.holder.id != holder.id)
        return HoldOutcome::Held;
    if (!port_.isOpen())
        return HoldOutcome::LineDown;
    if (hold_.active)
        stopHold("pressed again");
    hold_ = {true, command, holder};
    holdAddress_ = std::move(address);
    holdStartMs_ = clock_.nowMs();
    link_.holdStarted();
    ServiceEvent e;
    e.kind = ServiceEvent::Kind::Hold;
    e.hold = hold_;
    emit event(e);
    keepTimer_->setEnabled(true);
    holdTimer_->setEnabled(true);
    // At once, unless another exchange has the line: then before anything else that waits.
    if (current_ && !current_->hold) {
        holdDue_ = true;
    } else {
        holdSend();
    }
    return HoldOutcome::Started;
}

void ProjectorService::holdSend() {
    holdDue_ = false;
    if (current_)
        finish(Outcome::Done); // the hold's own last send: the new one supersedes it
    Job job;
    job.request.command = hold_.command;
    job.request.address = holdAddress_;
    job.request.sender = hold_.holder;
    job.askedMs = clock_.nowMs();
    job.hold = true;
    if (!begin(std::move(job)))
        stopHold("the send failed");
}

void ProjectorService::holdTick() {
    if (!hold_.active)
        return;
    if (clock_.nowMs() - holdStartMs_ >= kHoldLongestMs) {
        stopHold("held for 60 s");
        return;
    }
    if (current_ && !current_->hold) {
        holdDue_ = true;
    } else if (current_ && !result_.replied && !jobs_.empty()) {
        holdDue_ = true;
        holdYields_ = true;
    } else {
        holdSend();
    }
}

void ProjectorService::keepHold(std::uint64_t holderId) {
    if (hold_.active && hold_.holder.id == holderId)
        keepTimer_->setEnabled(true);
}

void ProjectorService::endHold(std::uint64_t holderId) {
    if (hold_.active && hold_.holder.id == holderId)
        stopHold(nullptr);
}

void ProjectorService::stopHold(const char* why) {
    if (!hold_.active)
        return;
    if (why)
        log(std::string("hold of ") + hold_.command + " by " + hold_.holder.label() +
            " ended: " + why);
    holdTimer_->setEnabled(false);
    keepTimer_->setEnabled(false);
    holdDue_ = false;
    holdYields_ = false;
    const bool holdOnLine = current_ && current_->hold;
    if (holdOnLine)
        finish(Outcome::Done);
    // As the panel's release: both displays and the buffer empty at once, the clearing later;
    // but an exchange of another sender on the line keeps its window and its reply.
    if (!current_) {
        link_.timer2().setEnabled(false);
        link_.setTx({});
        link_.setRx({});
        link_.clearReceiveBuffer();
        // The daemon's exchanges keep their own windows after a hold.
        setPeriods(settings_.replyWindowMs, settings_.clearMs);
        link_.timer4().setEnabled(true);
    }
    link_.holdEnded();
    hold_ = {};
    holdAddress_.reset();
    ServiceEvent e;
    e.kind = ServiceEvent::Kind::Hold;
    e.hold = hold_;
    emit event(e);
    if (!jobs_.empty())
        nextSoon();
}

void ProjectorService::traffic(const TrafficLine& line) {
    record_.push_back(line.format());
    while (record_.size() > kRecordLines)
        record_.pop_front();
    ServiceEvent e;
    e.kind = ServiceEvent::Kind::Traffic;
    e.traffic = line;
    if (line.direction == TrafficLine::Direction::Tx)
        e.sender = lastSender_;
    emit event(e);
}

} // namespace trv::service
