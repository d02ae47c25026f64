#pragma once

#include "ctl/CtlOptions.h"
#include "link/ProjectorLink.h"
#include "link/TrafficRecord.h"
#include "link/clock/QtClock.h"
#include "link/service/ExchangeResult.h"
#include "link/settings/QtSettingsStore.h"
#include "link/transport/DevicePort.h"

#include <QElapsedTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace trv::ctl {

// The projector as trv-ctl reaches it: the panel's port map, stored settings (never written),
// unit address, echo, decoders and reply window.
class CtlSession : public QObject {
    Q_OBJECT
public:
    static constexpr int kHoldPeriodMs = 100;

    explicit CtlSession(const CtlOptions& options);
    ~CtlSession() override;

    // False with `reason` when the port does not open.
    bool open(QString& reason);
    // Sends one command and waits for its reply, the end of the reply window or the loss of
    // the link. `sent` stays empty when the command did not go out.
    ExchangeResult exchange(const QString& command);
    // Sends a command at once and every 100 ms for `seconds`, or until `stop` says so or the
    // link is lost; counts the sends and the replies.
    void hold(const QString& command, double seconds, const std::function<bool()>& stop, int& sends,
              int& replies);
    QString where() const { return where_; }
    // The unit address in front of every command of this run.
    QString unitAddress() const { return QString::fromStdString(link_.UnitAddress); }
    // Why the link went away since the port opened; empty while it is there.
    QString lostReason() const { return lostReason_; }
    bool lost() const { return !lostReason_.isEmpty(); }

signals:
    // The traffic record cannot be written ("FILE: why"); the run goes on without it.
    void recordFailed(const QString& problem);

private:
    // Writes one command; true only when it went out and the link is still there after it.
    bool send(const QString& command);

    const CtlOptions& options_;
    QtSettingsStore store_;
    DevicePort port_;
    QtClock clock_;
    ProjectorLink link_;
    QElapsedTimer started_;
    QString where_;
    QString lostReason_;
    std::unique_ptr<TrafficRecord> record_;
};

} // namespace trv::ctl
