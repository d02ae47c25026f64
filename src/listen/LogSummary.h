#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace trv {
class Clock;
class Timer;
} // namespace trv

namespace trv::listen {

// The log of what peers do, kept readable under a flood: of the events of one kind from one
// address, the first goes out at once and the rest of its minute are counted, the count going
// out as one line when the minute ends. With `verbose` every line goes out as it comes.
class LogSummary : public QObject {
    Q_OBJECT
public:
    using Sink = std::function<void(const QString& line)>;
    static constexpr std::int64_t kWindowMs = 60000;
    // (address, kind) pairs followed at most; events beyond are counted together.
    static constexpr std::size_t kMaxKinds = 1024;

    LogSummary(Clock& clock, Sink sink, QObject* parent = nullptr);
    ~LogSummary() override;

    void setVerbose(bool verbose) { verbose_ = verbose; }
    bool verbose() const { return verbose_; }
    // An event of `kind` from the address `key`; `line` is what the log says of it.
    void event(const QString& key, const QString& kind, const QString& line);
    // A line about no peer in particular: always written.
    void line(const QString& line) const;
    // Writes the counts not yet written, as at the end of their minute.
    void flush();

private:
    struct Window {
        std::int64_t startMs = 0;
        int more = 0;    // events not written since the window began
        QString example; // the last of them
    };
    void tick();
    void summarise(const QString& key, const Window& window) const;

    Clock& clock_;
    Sink sink_;
    bool verbose_ = false;
    std::unique_ptr<Timer> timer_;
    std::map<std::pair<QString, QString>, Window> windows_;
};

} // namespace trv::listen
