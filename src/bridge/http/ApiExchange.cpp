#include "bridge/http/ApiExchange.h"

#include "bridge/http/CommandCheck.h"
#include "bridge/http/Refusal.h"
#include "link/service/ExchangeJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <memory>
#include <vector>

namespace trv::http {
namespace {

using service::ProjectorService;

// The panel's decoded reads by the names trv-ctl gives them.
constexpr struct {
    const char* name;
    const char* command;
} kReads[] = {
    {"status", "CR0"}, {"input", "CR1"}, {"setting", "CR4"}, {"lamp", "CR3"}, {"temp", "CR6"}};

ApiReply json(int status, const QJsonDocument& document) {
    return {status, document.toJson(QJsonDocument::Compact), "application/json", {}};
}

ApiReply badRequest(const QString& why) {
    return json(400, QJsonDocument(QJsonObject{{QStringLiteral("error"), why}}));
}

ApiReply refused(ProjectorService::Outcome outcome, const ProjectorService& service) {
    const Refusal refusal = Refusal::of(outcome, service);
    QJsonObject object{{QStringLiteral("error"), refusal.error}};
    if (!refusal.reason.isEmpty())
        object.insert(QStringLiteral("reason"), refusal.reason);
    ApiReply reply = json(refusal.status, QJsonDocument(object));
    if (outcome == ProjectorService::Outcome::Busy)
        reply.headers.emplace_back("Retry-After", "1");
    return reply;
}

// The body as one JSON object, or why not.
std::optional<QJsonObject> object(const QByteArray& body, QString& problem) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        problem = QStringLiteral("the body is not JSON: ") + error.errorString();
        return std::nullopt;
    }
    if (!document.isObject()) {
        problem = QStringLiteral("the body is not a JSON object");
        return std::nullopt;
    }
    return document.object();
}

ProjectorService::Request request(std::string command, std::optional<std::string> address,
                                  const service::Sender& sender) {
    ProjectorService::Request request;
    request.command = std::move(command);
    request.address = std::move(address);
    request.sender = sender;
    // A client of the API waits while a person holds a button.
    request.yieldToHold = true;
    return request;
}

// The reads of one request, made one after the other; none goes out after a refusal.
struct Reads {
    ProjectorService& service;
    service::Sender sender;
    std::vector<std::string> commands;
    std::function<void(ApiReply)> answer;
    QJsonArray results;

    static void next(const std::shared_ptr<Reads>& reads) {
        const std::size_t at = std::size_t(reads->results.size());
        if (at == reads->commands.size()) {
            reads->answer(json(200, QJsonDocument(reads->results)));
            return;
        }
        reads->service.exchange(
            request(reads->commands[at], std::nullopt, reads->sender),
            [reads](ProjectorService::Outcome outcome, const ExchangeResult& result) {
                if (outcome != ProjectorService::Outcome::Done) {
                    reads->answer(refused(outcome, reads->service));
                    return;
                }
                reads->results.append(exchangeJson(result));
                next(reads);
            });
    }
};

} // namespace

ApiExchange::ApiExchange(service::ProjectorService& service) : service_(service) {}

void ApiExchange::send(const QByteArray& body, const service::Sender& sender,
                       std::function<void(ApiReply)> answer) {
    QString problem;
    const std::optional<QJsonObject> asked = object(body, problem);
    if (!asked)
        return answer(badRequest(problem));
    const QJsonValue command = asked->value(QStringLiteral("command"));
    const QJsonValue address = asked->value(QStringLiteral("address"));
    if (problem = CommandCheck::commandProblem(command); problem.isEmpty())
        problem = CommandCheck::addressProblem(address);
    if (!problem.isEmpty())
        return answer(badRequest(problem));
    // Only the service is used later: this object may be gone by then.
    service_.exchange(
        request(command.toString().toStdString(), CommandCheck::address(address), sender),
        [&service = service_, answer = std::move(answer)](ProjectorService::Outcome outcome,
                                                          const ExchangeResult& result) {
            if (outcome == ProjectorService::Outcome::Done)
                answer(json(200, QJsonDocument(exchangeJson(result))));
            else
                answer(refused(outcome, service));
        });
}

void ApiExchange::read(const QByteArray& body, const service::Sender& sender,
                       std::function<void(ApiReply)> answer) {
    QString problem;
    const std::optional<QJsonObject> asked = object(body, problem);
    if (!asked)
        return answer(badRequest(problem));
    const QJsonValue names = asked->value(QStringLiteral("names"));
    if (!names.isArray())
        return answer(badRequest(QStringLiteral("names is not an array")));
    const QJsonArray list = names.toArray();
    if (list.isEmpty() || list.size() > kMostReads)
        return answer(badRequest(QStringLiteral("names needs one to %1 names").arg(kMostReads)));
    auto reads = std::make_shared<Reads>(Reads{service_, sender, {}, std::move(answer), {}});
    for (const QJsonValue& name : list) {
        const auto known = std::find_if(std::begin(kReads), std::end(kReads), [&](const auto& row) {
            return name.toString() == QLatin1String(row.name);
        });
        if (!name.isString() || known == std::end(kReads))
            return reads->answer(badRequest(
                QStringLiteral("a name is not one of status, input, setting, lamp, temp")));
        reads->commands.emplace_back(known->command);
    }
    Reads::next(reads);
}

} // namespace trv::http
