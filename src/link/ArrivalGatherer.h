#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace trv {

// Gathers a flood's arrivals so the program wakes once a window instead of once a character.
// The first arrival after a quiet window goes on at once; what keeps coming is left in the
// device while the window runs and handed on as one arrival at its end.
class ArrivalGatherer final : public QObject {
    Q_OBJECT
public:
    static constexpr int kWindowMs = 50;

    // How the gatherer holds a device's reading back and catches up with it.
    struct Device {
        std::function<void(bool hold)> holdReading; // a device buffer of one byte, or unlimited
        std::function<void()> catchUp;              // read what waits, without blocking
        std::function<qint64()> bytesAvailable;
    };

    explicit ArrivalGatherer(Device device, QObject* parent = nullptr);

    // The device said it has data.
    void readyRead();
    // The device was closed: forget the window.
    void reset();
    bool gathering() const { return gathering_; }

signals:
    void arrived();

private:
    void windowEnded();
    void startWindow();

    Device device_;
    QTimer window_;
    bool gathering_ = false;
};

} // namespace trv
