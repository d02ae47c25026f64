#pragma once

#include "bridge/pjlink/PjlinkDevice.h"
#include "bridge/pjlink/PjlinkInputNames.h"
#include "bridge/pjlink/PjlinkMapping.h"
#include "link/service/ProjectorService.h"

#include <QObject>
#include <functional>
#include <optional>

namespace trv::bridge::pjlink {

// The projector behind the line's service as a PJLink device: requests become exchanges in the
// service's queue, with the status read reused for a short while so that many pollers cost one
// read.
class PjlinkProjector final : public QObject, public PjlinkDevice {
    Q_OBJECT
public:
    struct Settings {
        std::string name = "TRV-M5400";
        InputMap inputs;
        PjlinkInputNames inputNames;
        // Class 2's SNUM, SVER, RLMP and RFIL: empty when not known, and answered empty.
        std::string serial, softwareVersion, lampModel, filterModel;
        int cacheMs = 1000; // how long a status read answers for
    };

    PjlinkProjector(service::ProjectorService& service, Settings settings,
                    QObject* parent = nullptr);

    void setSettings(Settings settings) { settings_ = std::move(settings); }

    void request(char classDigit, const std::string& command, const std::string& parameter,
                 const service::Sender& from, Reply reply) override;

private:
    using Then = std::function<void(std::optional<std::string> reply)>;
    using StatusThen = std::function<void(std::optional<ProjectorStatus>)>;
    // How long a set may wait for the line: the client is answered within 2 s in any case.
    static constexpr int kSetDueMs = 1500;

    // The commands that come with Class 2, and ERR1 for the others sent as "%2".
    void classTwo(const std::string& command, const std::string& parameter,
                  const service::Sender& from, Reply reply);
    void power(const std::string& parameter, const service::Sender& from, Reply reply);
    void input(const std::string& parameter, const service::Sender& from, Reply reply);
    void mute(const std::string& parameter, const service::Sender& from, Reply reply);
    void freeze(const std::string& parameter, const service::Sender& from, Reply reply);
    void lamp(const service::Sender& from, Reply reply);
    // Sends `command` when the power is on (or as `allowed` says), answering OK on an ACK.
    void setWhen(const std::function<bool(const ProjectorStatus&)>& allowed,
                 const std::string& command, const service::Sender& from, Reply reply,
                 std::function<void()> done = {});
    void status(const service::Sender& from, StatusThen then);
    // A read (`shared`: answered by one like it that still waits) or a set, on the line.
    void exchange(const std::string& command, const service::Sender& from, bool shared, Then then);

    service::ProjectorService& service_;
    Settings settings_;
    // How the picture was last muted through PJLink: "11" or "31" report alike on the line.
    std::string muteParameter_ = "31";
};

} // namespace trv::bridge::pjlink
