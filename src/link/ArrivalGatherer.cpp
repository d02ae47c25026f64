#include "ArrivalGatherer.h"

namespace trv {

ArrivalGatherer::ArrivalGatherer(Device device, QObject* parent)
    : QObject(parent), device_(std::move(device)) {
    window_.setSingleShot(true);
    window_.setTimerType(Qt::PreciseTimer);
    window_.setInterval(kWindowMs);
    connect(&window_, &QTimer::timeout, this, &ArrivalGatherer::windowEnded);
}

void ArrivalGatherer::readyRead() {
    if (gathering_)
        return; // collected at the window's end
    emit arrived();
    startWindow();
}

void ArrivalGatherer::startWindow() {
    gathering_ = true;
    // With room for one byte the device stops watching the line once that byte is in.
    device_.holdReading(true);
    window_.start();
}

void ArrivalGatherer::windowEnded() {
    device_.holdReading(false);
    device_.catchUp();
    if (!gathering_)
        return; // closed while catching up (a hang-up)
    if (device_.bytesAvailable() <= 0) {
        gathering_ = false; // quiet: the next arrival goes on at once
        return;
    }
    emit arrived();
    if (gathering_)
        startWindow();
}

void ArrivalGatherer::reset() {
    window_.stop();
    if (gathering_) {
        gathering_ = false;
        device_.holdReading(false);
    }
}

} // namespace trv
