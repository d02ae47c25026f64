#include "listen/LogSummary.h"

#include "link/clock/Clock.h"

namespace trv::listen {

LogSummary::LogSummary(Clock& clock, Sink sink, QObject* parent)
    : QObject(parent), clock_(clock), sink_(std::move(sink)),
      timer_(clock.createTimer(1000, false)) {
    connect(timer_.get(), &Timer::timeout, this, &LogSummary::tick);
}

LogSummary::~LogSummary() = default;

void LogSummary::line(const QString& line) const {
    if (sink_)
        sink_(line);
}

void LogSummary::event(const QString& key, const QString& kind, const QString& text) {
    if (verbose_)
        return line(text);
    std::pair<QString, QString> at{key, kind};
    if (!windows_.count(at) && windows_.size() >= kMaxKinds)
        at = {QStringLiteral("other addresses"), QStringLiteral("any")};
    const auto found = windows_.find(at);
    if (found == windows_.end()) {
        windows_.emplace(at, Window{clock_.nowMs(), 0, {}});
        if (!timer_->isEnabled())
            timer_->setEnabled(true);
        return line(text);
    }
    ++found->second.more;
    found->second.example = text;
}

void LogSummary::tick() {
    const std::int64_t now = clock_.nowMs();
    for (auto it = windows_.begin(); it != windows_.end();) {
        Window& window = it->second;
        if (now - window.startMs < kWindowMs) {
            ++it;
            continue;
        }
        if (window.more == 0) {
            it = windows_.erase(it);
            continue;
        }
        // This minute's line is the count: what comes in the next minute is counted too.
        summarise(it->first.first, window);
        window = {now, 0, {}};
        ++it;
    }
    if (windows_.empty())
        timer_->setEnabled(false);
}

void LogSummary::flush() {
    for (const auto& [at, window] : windows_)
        if (window.more > 0)
            summarise(at.first, window);
    windows_.clear();
    timer_->setEnabled(false);
}

void LogSummary::summarise(const QString& key, const Window& window) const {
    line(QStringLiteral("%1: %2 more in the last minute like: %3")
             .arg(key)
             .arg(window.more)
             .arg(window.example));
}

} // namespace trv::listen
