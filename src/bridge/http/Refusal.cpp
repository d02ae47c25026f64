#include "bridge/http/Refusal.h"

namespace trv::http {
namespace {

using service::ProjectorService;

Refusal lineDown(const ProjectorService& service, const char* otherwise) {
    const std::string& reason = service.lineState().reason;
    return {503, QStringLiteral("line down"),
            reason.empty() ? QString::fromLatin1(otherwise) : QString::fromStdString(reason)};
}

Refusal held(const ProjectorService& service) {
    const service::HoldState& hold = service.hold();
    // The hold may have ended between the refusal and this answer.
    if (!hold.active)
        return {409, QStringLiteral("held by another client"), {}};
    return {409, QStringLiteral("held by ") + QString::fromStdString(hold.holder.label()), {}};
}

} // namespace

Refusal Refusal::of(ProjectorService::Outcome outcome, const ProjectorService& service) {
    switch (outcome) {
    case ProjectorService::Outcome::LineDown:
        return lineDown(service, "the line is not open");
    case ProjectorService::Outcome::Lost:
        return lineDown(service, "the line was lost during the exchange");
    case ProjectorService::Outcome::Failed:
        return lineDown(service, "the port refused the command");
    case ProjectorService::Outcome::Held:
        return held(service);
    case ProjectorService::Outcome::Busy:
        return {503, QStringLiteral("busy"), QStringLiteral("too many commands wait")};
    case ProjectorService::Outcome::Late:
        return {503, QStringLiteral("busy"), QStringLiteral("waited too long, not sent")};
    case ProjectorService::Outcome::Done:
        break;
    }
    return {500, QStringLiteral("no refusal"), {}};
}

Refusal Refusal::of(ProjectorService::HoldOutcome outcome, const std::string& command,
                    const ProjectorService& service) {
    switch (outcome) {
    case ProjectorService::HoldOutcome::Held:
        return held(service);
    case ProjectorService::HoldOutcome::LineDown:
        return lineDown(service, "the line is not open");
    case ProjectorService::HoldOutcome::NotHoldCommand:
        return {400, QString::fromStdString(command) + QStringLiteral(" cannot be held"),
                QStringLiteral("only the panel's arrow commands repeat while held")};
    case ProjectorService::HoldOutcome::Started:
        break;
    }
    return {500, QStringLiteral("no refusal"), {}};
}

} // namespace trv::http
