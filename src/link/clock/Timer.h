#pragma once

#include <QObject>

namespace trv {

// A period in milliseconds and an enabled switch; ticks on the user-interface thread.
// Enabling a timer, or changing the period of an enabled one, starts its period afresh.
class Timer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;

signals:
    void timeout();
};

} // namespace trv
