#include "ArrivalGatherer.h"

namespace trv {

ArrivalGatherer::ArrivalGatherer(QIODevice& device, std::function<void(qint64)> setReadBufferSize,
                                 QObject* parent)
    : QObject(parent), device_(device), setReadBufferSize_(std::move(setReadBufferSize)) {
    connect(&device_, &QIODevice::readyRead, this, &ArrivalGatherer::readyRead);
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
    setReadBufferSize_(1);
    window_.start();
}

void ArrivalGatherer::windowEnded() {
    setReadBufferSize_(0);
    // Read what waits, without blocking; a hang-up found here closes the port and resets us.
    if (device_.isOpen())
        device_.waitForReadyRead(0);
    if (!gathering_)
        return;
    if (!device_.isOpen() || device_.bytesAvailable() <= 0) {
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
        setReadBufferSize_(0);
    }
}

} // namespace trv
