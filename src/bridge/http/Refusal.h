#pragma once

#include "link/service/ProjectorService.h"

#include <QString>

namespace trv::http {

// Why the service did not do what a client asked, for the API's error replies and the
// messages a page shows.
struct Refusal {
    int status = 503; // the API's status for it
    QString error;    // the API's "error": "line down", "held by web 127.0.0.2", "busy"
    QString reason;   // what goes with it, if anything
    QString message() const {
        return reason.isEmpty() ? error : error + QStringLiteral(": ") + reason;
    }

    // For an exchange that did not end in Outcome::Done.
    static Refusal of(service::ProjectorService::Outcome outcome,
                      const service::ProjectorService& service);
    // For a hold that did not start.
    static Refusal of(service::ProjectorService::HoldOutcome outcome, const std::string& command,
                      const service::ProjectorService& service);
};

} // namespace trv::http
