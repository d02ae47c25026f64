#pragma once

#include "bridge/pjlink/NotifyRules.h"
#include "link/service/ProjectorService.h"

#include <QObject>
#include <functional>
#include <optional>
#include <string>

namespace trv::bridge::pjlink {

// Watches the line's service for what the status notifications tell: power and input commands
// of the configured unit that the projector acknowledged, whoever sent them, the status and
// input reads of anyone (the bridge's own included), and the line's coming and going; and
// hands each notification the rules call for to `send`.
class PjlinkNotifier final : public QObject {
    Q_OBJECT
public:
    using Send = std::function<void(const NotifyRules::Notice& notice)>;

    PjlinkNotifier(service::ProjectorService& service, InputMap inputs, Send send,
                   QObject* parent = nullptr);

    void setInputs(InputMap inputs) { rules_.setInputs(std::move(inputs)); }
    // The bridge serves PJLink from now on.
    void serving();

private:
    void seen(const service::ServiceEvent& event);
    void sent(const std::string& bytes);
    void valuesChanged();
    void tell(const NotifyRules::Notices& notices);

    service::ProjectorService& service_;
    NotifyRules rules_;
    Send send_;
    bool lineUp_ = false;
    std::optional<std::string> command_; // the power or input command on the line, if ours
    bool acknowledged_ = false;
    std::optional<service::SharedValues::Entry> status_, input_; // the reads last seen
};

} // namespace trv::bridge::pjlink
