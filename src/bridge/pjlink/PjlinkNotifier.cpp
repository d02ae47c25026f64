#include "bridge/pjlink/PjlinkNotifier.h"

namespace trv::bridge::pjlink {
namespace {

bool watched(const std::string& command) {
    return command == "C00" || command == "C01" ||
           (command.size() == 3 && command >= "C05" && command <= "C08");
}

bool newer(const std::optional<service::SharedValues::Entry>& now,
           const std::optional<service::SharedValues::Entry>& before) {
    return now && (!before || now->atMs != before->atMs || now->reply != before->reply);
}

} // namespace

PjlinkNotifier::PjlinkNotifier(service::ProjectorService& service, InputMap inputs, Send send,
                               QObject* parent)
    : QObject(parent), service_(service), rules_(std::move(inputs)), send_(std::move(send)) {
    lineUp_ = service_.lineState().up;
    connect(&service_, &service::ProjectorService::event, this, &PjlinkNotifier::seen);
}

void PjlinkNotifier::serving() { tell(rules_.serving()); }

void PjlinkNotifier::tell(const NotifyRules::Notices& notices) {
    for (const NotifyRules::Notice& notice : notices)
        send_(notice);
}

void PjlinkNotifier::seen(const service::ServiceEvent& event) {
    using Kind = service::ServiceEvent::Kind;
    switch (event.kind) {
    case Kind::Line:
        if (event.line.up && !lineUp_)
            tell(rules_.lineUp());
        else if (!event.line.up)
            rules_.lineDown();
        lineUp_ = event.line.up;
        break;
    case Kind::Traffic:
        if (event.traffic.direction == TrafficLine::Direction::Tx)
            sent(event.traffic.bytes);
        else if (event.traffic.direction == TrafficLine::Direction::Rx &&
                 event.traffic.bytes.find('\x06') != std::string::npos)
            acknowledged_ = true;
        break;
    case Kind::Values:
        valuesChanged();
        break;
    default:
        break;
    }
}

void PjlinkNotifier::sent(const std::string& bytes) {
    // What went out is the unit address, the command and a carriage return.
    std::string text = bytes;
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    const std::string& address = service_.settings().address;
    const bool addressed = text.size() >= 4 && text[0] == 'A';
    const std::string unit = addressed ? text.substr(0, 4) : std::string();
    const std::string command = addressed ? text.substr(4) : text;
    acknowledged_ = false;
    command_.reset();
    if (unit == address && watched(command))
        command_ = command;
}

void PjlinkNotifier::valuesChanged() {
    // The values change once an exchange has ended: a command's acknowledgement came with it.
    if (command_ && acknowledged_)
        tell(rules_.acknowledged(*command_));
    command_.reset();
    acknowledged_ = false;
    const auto status = service_.values().get("CR0");
    if (newer(status, status_)) {
        if (const auto decoded = decodeStatus(status->reply))
            tell(rules_.statusRead(*decoded));
    }
    status_ = status;
    const auto input = service_.values().get("CR1");
    if (newer(input, input_)) {
        if (const auto decoded = decodeInput(input->reply))
            tell(rules_.inputRead(*decoded));
    }
    input_ = input;
}

} // namespace trv::bridge::pjlink
