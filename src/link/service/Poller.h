#pragma once

#include "link/clock/Clock.h"
#include "link/service/ProjectorService.h"

#include <QObject>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace trv::service {

// The daemon's own reads of what every front end shows without asking the line: the status,
// the input, the lamp time and the temperatures, every period, one exchange at a time through
// the line's queue behind everyone else's, never during a hold and never more often than the
// period; a read without a reply ends the round.
class Poller final : public QObject {
    Q_OBJECT
public:
    static constexpr std::array<const char*, 4> kReads{"CR0", "CR1", "CR3", "CR6"};

    // `periodS` 0: no reads at all.
    Poller(ProjectorService& service, Clock& clock, int periodS, QObject* parent = nullptr);
    ~Poller() override;

    void setPeriod(int seconds);
    int period() const { return periodS_; }
    // Rounds begun since the start, for whoever measures them.
    std::uint64_t rounds() const { return rounds_; }

signals:
    // A round's last read is answered (or the round was given up because the line went down).
    void roundEnded();

private:
    void onEvent(const ServiceEvent& event);
    // Begins a round when one is due and the line can take it, else waits for the time, the
    // line or the hold's end.
    void maybeBegin();
    void ask();
    void answered(ProjectorService::Outcome outcome, bool replied);
    void endRound();

    ProjectorService& service_;
    Clock& clock_;
    std::unique_ptr<Timer> timer_;
    Sender self_;
    int periodS_ = 0;
    std::optional<std::int64_t> lastBeginMs_;
    int step_ = -1;        // the read of the round on its way; -1 between rounds
    bool paused_ = false;  // the round waits for a hold to end
    bool waiting_ = false; // a read is on its way
    std::uint64_t rounds_ = 0;
};

} // namespace trv::service
