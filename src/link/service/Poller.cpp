#include "link/service/Poller.h"

#include <QPointer>

namespace trv::service {

Poller::Poller(ProjectorService& service, Clock& clock, int periodS, QObject* parent)
    : QObject(parent), service_(service), clock_(clock),
      timer_(clock.createTimer(1000, false)), self_{Sender::Kind::Bridge, {}, Sender::nextId()},
      periodS_(periodS) {
    connect(timer_.get(), &Timer::timeout, this, [this] {
        timer_->setEnabled(false);
        maybeBegin();
    });
    connect(&service_, &ProjectorService::event, this, &Poller::onEvent);
    maybeBegin();
}

Poller::~Poller() = default;

void Poller::setPeriod(int seconds) {
    if (seconds == periodS_)
        return;
    periodS_ = seconds;
    timer_->setEnabled(false);
    if (step_ < 0)
        maybeBegin();
}

void Poller::onEvent(const ServiceEvent& event) {
    if (event.kind == ServiceEvent::Kind::Line && event.line.up && step_ < 0 &&
        !timer_->isEnabled()) {
        maybeBegin();
    } else if (event.kind == ServiceEvent::Kind::Hold && !event.hold.active) {
        if (paused_) {
            paused_ = false;
            // A hold longer than the period: a round afresh, not the old one's rest and at once
            // the next.
            const std::int64_t now = clock_.nowMs();
            if (lastBeginMs_ && now - *lastBeginMs_ >= std::int64_t(periodS_) * 1000) {
                lastBeginMs_ = now;
                ++rounds_;
                step_ = 0;
            }
            ask();
        } else if (step_ < 0 && !timer_->isEnabled()) {
            maybeBegin();
        }
    }
}

void Poller::maybeBegin() {
    if (periodS_ <= 0 || step_ >= 0)
        return;
    // The line's coming back or the hold's end begins the round that came due meanwhile.
    if (!service_.lineState().up || service_.hold().active)
        return;
    const std::int64_t now = clock_.nowMs();
    const std::int64_t periodMs = std::int64_t(periodS_) * 1000;
    if (lastBeginMs_ && now - *lastBeginMs_ < periodMs) {
        timer_->setInterval(int(*lastBeginMs_ + periodMs - now));
        timer_->setEnabled(true);
        return;
    }
    lastBeginMs_ = now;
    ++rounds_;
    step_ = 0;
    ask();
}

void Poller::ask() {
    if (waiting_)
        return;
    if (service_.hold().active) {
        paused_ = true;
        return;
    }
    ProjectorService::Request request;
    request.command = kReads[std::size_t(step_)];
    request.sender = self_;
    request.shared = true;
    request.notDuringHold = true;
    request.background = true;
    waiting_ = true;
    QPointer<Poller> self(this);
    service_.exchange(std::move(request),
                      [self](ProjectorService::Outcome outcome, const ExchangeResult& result) {
                          if (self)
                              self->answered(outcome, result.replied);
                      });
}

void Poller::answered(ProjectorService::Outcome outcome, bool replied) {
    using Outcome = ProjectorService::Outcome;
    waiting_ = false;
    if (step_ < 0)
        return;
    switch (outcome) {
    case Outcome::Held:
        // Asked again, the same read, once the hold has ended.
        if (service_.hold().active) {
            paused_ = true;
            return;
        }
        return ask();
    case Outcome::LineDown:
    case Outcome::Lost:
        // Nothing more to read until the line is back; the next round comes at its time.
        return endRound();
    case Outcome::Done:
        // A projector that did not answer this read will not answer the next ones either: the
        // line is left to others until the next round.
        if (!replied)
            return endRound();
        break;
    case Outcome::Busy:
    case Outcome::Late:
    case Outcome::Failed:
        break;
    }
    if (++step_ >= int(kReads.size()))
        return endRound();
    ask();
}

void Poller::endRound() {
    step_ = -1;
    paused_ = false;
    emit roundEnded();
    maybeBegin();
}

} // namespace trv::service
