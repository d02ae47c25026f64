#pragma once

#include "link/clock/Timer.h"

#include <QTimer>

namespace trv {

// Timer on a QTimer.
class QtTimer final : public Timer {
    Q_OBJECT
public:
    QtTimer(int intervalMs, bool precise);

    void setInterval(int ms) override;
    int interval() const override { return timer_.interval(); }
    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace trv
