#include "Fakes.h"

#include <algorithm>

namespace trv::testing {

SerialPort::OpenResult FakeSerialPort::open() {
    ++attempts;
    if (failOpen)
        return {false, failReason};
    open_ = true;
    ++opens;
    pending.clear();
    emit opened(QStringLiteral("COM%1").arg(portNo_));
    return {true, {}};
}

void FakeSerialPort::close() {
    if (!open_)
        return;
    ++closes;
    open_ = false;
    emit closed();
}

bool FakeSerialPort::write(const std::string& bytes) {
    if (!open_ || refuseWrite)
        return false;
    writes.push_back(bytes);
    return true;
}

std::string FakeSerialPort::readAll() {
    std::string out;
    out.swap(pending);
    return out;
}

void FakeSerialPort::deliver(const std::string& bytes) {
    pending += bytes;
    emit commEvent(kCharactersReceived);
}

void FakeSerialPort::deliverPieces(const std::string& bytes, std::size_t pieceSize) {
    for (std::size_t i = 0; i < bytes.size(); i += pieceSize)
        deliver(bytes.substr(i, pieceSize));
}

void FakeSerialPort::unplug() {
    if (!open_)
        return;
    open_ = false;
    ++closes;
    emit linkLost(QStringLiteral("unplugged"));
}

std::unique_ptr<Timer> ManualClock::createTimer(int intervalMs, bool) {
    auto timer = std::make_unique<FakeTimer>(*this, intervalMs);
    timers_.push_back(timer.get());
    return timer;
}

void ManualClock::advance(std::int64_t ms) {
    const std::int64_t target = now_ + ms;
    for (;;) {
        FakeTimer* next = nullptr;
        for (FakeTimer* timer : timers_) {
            if (timer->isEnabled() && timer->deadline() <= target &&
                (next == nullptr || timer->deadline() < next->deadline()))
                next = timer;
        }
        if (next == nullptr)
            break;
        now_ = next->deadline();
        next->fire();
    }
    now_ = target;
}

FakeTimer::~FakeTimer() { std::erase(clock_.timers_, this); }

void FakeTimer::setInterval(int ms) {
    interval_ = ms;
    if (enabled_)
        deadline_ = clock_.now_ + interval_;
}

void FakeTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (enabled)
        deadline_ = clock_.now_ + interval_;
}

void FakeTimer::fire() {
    deadline_ += std::max(interval_, 1);
    emit timeout();
}

QString FakeSettingsStore::read(const QString& key, const QString& fallback) {
    return values.value(key, fallback);
}

bool FakeSettingsStore::write(const QString& key, const QString& value) {
    if (failWrites)
        return false;
    ++writeCount;
    values[key] = value;
    return true;
}

} // namespace trv::testing
