#include "bridge/pjlink/PjlinkProjector.h"

namespace trv::bridge::pjlink {
namespace {

const std::string kOk = "OK";
const std::string kUndefined = "ERR1";
const std::string kOutOfParameter = "ERR2";
const std::string kUnavailable = "ERR3";
const std::string kFailure = "ERR4";

bool poweredOn(const ProjectorStatus& status) { return status.power == ProjectorStatus::Power::On; }

// A value known here, for a command that is only ever a query.
void answerQuery(const std::string& parameter, const std::string& value,
                 const PjlinkDevice::Reply& reply) {
    reply(parameter == "?" ? value : kOutOfParameter);
}

} // namespace

PjlinkProjector::PjlinkProjector(service::ProjectorService& service, Settings settings,
                                 QObject* parent)
    : QObject(parent), service_(service), settings_(std::move(settings)) {}

void PjlinkProjector::request(char classDigit, const std::string& command,
                              const std::string& parameter, const service::Sender& from,
                              Reply reply) {
    const auto information = [&](const std::string& value) {
        answerQuery(parameter, value, reply);
    };
    // In both classes: the input codes here are Class 1 codes, which Class 2 clients read alike.
    if (command == "INPT")
        return input(parameter, from, std::move(reply));
    if (command == "INST")
        return information(settings_.inputs.list());
    if (classDigit == '2')
        return classTwo(command, parameter, from, std::move(reply));
    if (command == "POWR")
        return power(parameter, from, std::move(reply));
    if (command == "AVMT")
        return mute(parameter, from, std::move(reply));
    if (command == "LAMP")
        return parameter == "?" ? lamp(from, std::move(reply)) : reply(kOutOfParameter);
    if (command == "ERST") {
        if (parameter != "?")
            return reply(kOutOfParameter);
        return status(from, [reply = std::move(reply)](std::optional<ProjectorStatus> status) {
            reply(status ? status->errorValue() : kFailure);
        });
    }
    // Asked at start-up in any power state: answered without the line.
    if (command == "NAME")
        return information(settings_.name);
    if (command == "INF1")
        return information("ZEKO");
    if (command == "INF2")
        return information("TRV-M5400");
    if (command == "INFO")
        return information("RS-232C projector");
    if (command == "CLSS")
        return information("2");
    reply(kUndefined);
}

void PjlinkProjector::classTwo(const std::string& command, const std::string& parameter,
                               const service::Sender& from, Reply reply) {
    const auto information = [&](const std::string& value) {
        answerQuery(parameter, value, reply);
    };
    if (command == "FREZ")
        return freeze(parameter, from, std::move(reply));
    if (command == "INNM") {
        // "?31": the name of an input INST offers.
        const auto input = parameter.size() > 1 && parameter[0] == '?'
                               ? settings_.inputs.selectable(parameter.substr(1))
                               : std::nullopt;
        return reply(input ? settings_.inputNames.name(*input) : kOutOfParameter);
    }
    // Only what the configuration says: the projector has no read for any of them.
    if (command == "SNUM")
        return information(settings_.serial);
    if (command == "SVER")
        return information(settings_.softwareVersion);
    if (command == "RLMP")
        return information(settings_.lampModel);
    if (command == "RFIL")
        return information(settings_.filterModel);
    // IRES, RRES and FILT: no read whose reply the bridge knows; SVOL and MVOL: nothing to act
    // on. The Class 1 commands other than INPT and INST have no Class 2 form.
    reply(kUndefined);
}

void PjlinkProjector::power(const std::string& parameter, const service::Sender& from,
                            Reply reply) {
    using Power = ProjectorStatus::Power;
    if (parameter == "?") {
        return status(from, [reply = std::move(reply)](std::optional<ProjectorStatus> status) {
            const auto value = status ? status->powerValue() : std::nullopt;
            reply(value ? *value : kFailure);
        });
    }
    if (parameter == "1") {
        return setWhen([](const ProjectorStatus& s) { return s.power != Power::Cooling; }, "C00",
                       from, std::move(reply));
    }
    if (parameter == "0") {
        return setWhen([](const ProjectorStatus& s) { return s.power != Power::WarmingUp; }, "C01",
                       from, std::move(reply));
    }
    reply(kOutOfParameter);
}

void PjlinkProjector::input(const std::string& parameter, const service::Sender& from,
                            Reply reply) {
    if (parameter == "?") {
        return exchange("CR1", from, true,
                        [this, reply = std::move(reply)](std::optional<std::string> r) {
                            const std::optional<int> input = r ? decodeInput(*r) : std::nullopt;
                            const auto code = input ? settings_.inputs.code(*input) : std::nullopt;
                            reply(code ? *code : kFailure);
                        });
    }
    const std::optional<int> input = settings_.inputs.selectable(parameter);
    if (!input)
        return reply(kOutOfParameter);
    setWhen(poweredOn, "C0" + std::to_string(4 + *input), from, std::move(reply));
}

void PjlinkProjector::mute(const std::string& parameter, const service::Sender& from, Reply reply) {
    // The state the line's service last set, through any front end.
    if (parameter == "?")
        return reply(service_.muted() ? muteParameter_ : "30");
    // The projector mutes its picture only: the picture and sound together act on the picture.
    if (parameter == "11" || parameter == "31")
        return setWhen(poweredOn, "C0D", from, std::move(reply),
                       [this, parameter] { muteParameter_ = parameter; });
    if (parameter == "10" || parameter == "30")
        return setWhen(poweredOn, "C0E", from, std::move(reply));
    reply(kOutOfParameter);
}

void PjlinkProjector::freeze(const std::string& parameter, const service::Sender& from,
                             Reply reply) {
    // The state the line's service last set, through any front end; off again with the power.
    if (parameter == "?")
        return reply(service_.frozen() ? "1" : "0");
    if (parameter == "1")
        return setWhen(poweredOn, "C43", from, std::move(reply));
    if (parameter == "0")
        return setWhen(poweredOn, "C44", from, std::move(reply));
    reply(kOutOfParameter);
}

void PjlinkProjector::lamp(const service::Sender& from, Reply reply) {
    exchange("CR3", from, true,
             [this, from, reply = std::move(reply)](std::optional<std::string> r) {
                 const std::optional<int> hours = r ? decodeLampHours(*r) : std::nullopt;
                 if (!hours)
                     return reply(kFailure);
                 status(from, [reply, hours](std::optional<ProjectorStatus> status) {
                     if (!status)
                         return reply(kFailure);
                     const bool lit = status->power == ProjectorStatus::Power::On ||
                                      status->power == ProjectorStatus::Power::WarmingUp;
                     reply(std::to_string(*hours) + (lit ? " 1" : " 0"));
                 });
             });
}

void PjlinkProjector::setWhen(const std::function<bool(const ProjectorStatus&)>& allowed,
                              const std::string& command, const service::Sender& from, Reply reply,
                              std::function<void()> done) {
    status(from, [=, this](std::optional<ProjectorStatus> status) {
        if (!status)
            return reply(kFailure);
        if (!allowed(*status))
            return reply(kUnavailable);
        exchange(command, from, false, [=](std::optional<std::string> r) {
            const bool acknowledged = r && r->find('\x06') != std::string::npos;
            if (acknowledged && done)
                done();
            reply(acknowledged ? kOk : kFailure);
        });
    });
}

void PjlinkProjector::status(const service::Sender& from, StatusThen then) {
    if (const auto cached = service_.freshValue("CR0", settings_.cacheMs))
        return then(decodeStatus(cached->reply));
    exchange("CR0", from, true, [then = std::move(then)](std::optional<std::string> r) {
        then(r ? decodeStatus(*r) : std::nullopt);
    });
}

void PjlinkProjector::exchange(const std::string& command, const service::Sender& from, bool shared,
                               Then then) {
    service::ProjectorService::Request request;
    request.command = command;
    request.sender = from;
    request.shared = shared;
    request.dueMs = shared ? 0 : kSetDueMs;
    service_.exchange(std::move(request), [then = std::move(then)](
                                              service::ProjectorService::Outcome outcome,
                                              const ExchangeResult& result) {
        const bool answered = outcome == service::ProjectorService::Outcome::Done && result.replied;
        then(answered ? std::optional<std::string>(result.received) : std::nullopt);
    });
}

} // namespace trv::bridge::pjlink
