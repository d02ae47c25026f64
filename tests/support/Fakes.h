#pragma once

#include "link/clock/Clock.h"
#include "link/settings/SettingsStore.h"
#include "link/transport/SerialPort.h"
#include "windows/common/MessageBox.h"

#include <QMap>
#include <cstdint>
#include <string>
#include <vector>

namespace trv::testing {

// A serial line that records every write and delivers arrivals on demand.
class FakeSerialPort final : public SerialPort {
    Q_OBJECT
public:
    void setPortNumber(int portNo) override { portNo_ = portNo; }
    void setSettings(const LineSettings& settings) override { settings_ = settings; }
    OpenResult open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool write(const std::string& bytes) override;
    std::string readAll() override;

    // Arrivals: each piece raises one communication event.
    void deliver(const std::string& bytes);
    void deliverPieces(const std::string& bytes, std::size_t pieceSize);
    // The device disappears while open.
    void unplug();

    int portNo_ = 1;
    LineSettings settings_;
    bool open_ = false;
    bool failOpen = false;
    QString failReason = QStringLiteral("No such device: /dev/null-test");
    bool refuseWrite = false;
    int attempts = 0; // every open(), whether it worked or not
    int opens = 0;
    int closes = 0;
    std::vector<std::string> writes;
    std::string pending;
};

// Timers that tick only when the test moves the clock on, in time order.
class ManualClock final : public Clock {
public:
    std::unique_ptr<Timer> createTimer(int intervalMs, bool precise) override;
    // Moves time on by `ms`, firing every due tick in order.
    void advance(std::int64_t ms);
    std::int64_t now() const { return now_; }
    std::int64_t nowMs() const override { return now_; }
    // The wall clock moves with the manual one, from 2026-12-07T19:20:01.000+01:00.
    WallTime wallNow() const override { return {wallStartMs + now_, 3600}; }
    std::int64_t wallStartMs = 1796667601000;

private:
    friend class FakeTimer;
    std::int64_t now_ = 0;
    std::vector<class FakeTimer*> timers_;
};

class FakeTimer final : public Timer {
    Q_OBJECT
public:
    FakeTimer(ManualClock& clock, int intervalMs) : clock_(clock), interval_(intervalMs) {}
    ~FakeTimer() override;

    void setInterval(int ms) override;
    int interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }

    std::int64_t deadline() const { return deadline_; }
    void fire();

private:
    ManualClock& clock_;
    int interval_;
    bool enabled_ = false;
    std::int64_t deadline_ = 0;
};

class FakeSettingsStore final : public SettingsStore {
public:
    QString read(const QString& key, const QString& fallback) override;
    bool write(const QString& key, const QString& value) override;
    QString writeProblem() const override { return problem; }
    QString portMapping(int portNo) override {
        return values.value(QStringLiteral("Ports/COM%1").arg(portNo));
    }
    QString logFile() override { return values.value(QStringLiteral("Log/File")); }
    TlsSettings tlsSettings() override {
        const auto value = [this](const char* key) {
            return values.value(QStringLiteral("TLS/") + QLatin1String(key));
        };
        return {value("CAFile"), value("Fingerprint"), value("CertFile"), value("KeyFile")};
    }

    QMap<QString, QString> values;
    bool failWrites = false;
    QString problem;
    int writeCount = 0;
};

class FakeMessageBox final : public MessageBox {
public:
    struct Shown {
        QString text, title, detail;
        QWidget* parent;
    };
    void warning(QWidget* parent, const QString& text, const QString& title,
                 const QString& detail) override {
        shown.push_back({text, title, detail, parent});
    }
    // Recorded as shown, its two answers as the detail; answered with `answer`.
    bool question(QWidget* parent, const QString& text, const QString& title, const QString& yes,
                  const QString& no) override {
        shown.push_back({text, title, yes + QLatin1Char('|') + no, parent});
        return answer;
    }
    std::vector<Shown> shown;
    bool answer = false;
};

} // namespace trv::testing
