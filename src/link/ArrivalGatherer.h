#pragma once

#include <QIODevice>
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

    // `setReadBufferSize` is the device's own (QSerialPort and QAbstractSocket each have one):
    // a buffer of one byte makes the device stop watching the line once that byte is in.
    ArrivalGatherer(QIODevice& device, std::function<void(qint64)> setReadBufferSize,
                    QObject* parent = nullptr);

    // The device was closed: forget the window.
    void reset();

signals:
    void arrived();

private:
    void readyRead();
    void windowEnded();
    void startWindow();

    QIODevice& device_;
    std::function<void(qint64)> setReadBufferSize_;
    QTimer window_;
    bool gathering_ = false;
};

} // namespace trv
