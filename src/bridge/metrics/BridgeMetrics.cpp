#include "bridge/metrics/BridgeMetrics.h"

#include "bridge/metrics/MetricsText.h"
#include "link/service/Poller.h"
#include "link/service/ProjectorService.h"

#include <algorithm>

namespace trv::metrics {
namespace {

template <typename Read> const Read* readOf(const std::optional<ReplyValue>& value) {
    return value ? std::get_if<Read>(&value->read) : nullptr;
}

} // namespace

void BridgeMetrics::takeService(const service::ProjectorService& service, std::int64_t nowMs) {
    lineUp = service.lineState().up;
    port = service.lineState().port;
    statistics = service.statistics();
    power.reset();
    lampHours.reset();
    temperatures.reset();
    valuesAgeS.reset();
    std::optional<std::int64_t> oldestMs;
    for (const char* command : service::Poller::kReads) {
        const auto entry = service.values().get(command);
        if (!entry)
            continue;
        oldestMs = std::min(oldestMs.value_or(entry->atMs), entry->atMs);
        const std::optional<ReplyValue> value =
            ReplyValue::decode(std::string(command) + '\r', entry->reply);
        if (const auto* read = readOf<ReplyValue::StatusRead>(value))
            power = read->status;
        else if (const auto* read = readOf<ReplyValue::LampRead>(value))
            lampHours = read->hours;
        else if (const auto* read = readOf<ReplyValue::TemperatureRead>(value))
            temperatures = read->celsius;
    }
    if (oldestMs)
        valuesAgeS = double(nowMs - *oldestMs) / 1000.0;
}

std::string BridgeMetrics::text() const {
    using Status = ReplyValue::Status;
    MetricsText out;
    out.family("trv_info", "gauge", "The bridge and the projector it drives.");
    out.sample("trv_info",
               {{"name", name}, {"model", "TRV-M5400"}, {"version", version}, {"port", port}}, 1);

    out.family("trv_line_up", "gauge", "1 while the line to the projector is open.");
    out.sample("trv_line_up", lineUp ? 1 : 0);
    out.family("trv_line_losses_total", "counter", "Times the open line was lost.");
    out.sample("trv_line_losses_total", double(statistics.lineLosses));

    out.family("trv_power_state", "gauge",
               "The power state of the last status read: 1 for the current one.");
    if (power) {
        for (const Status state : {Status::On, Status::Standby, Status::WarmingUp, Status::Cooling,
                                   Status::PowerFault, Status::TemperatureFault, Status::LampFault})
            out.sample("trv_power_state", {{"state", ReplyValue::word(state)}},
                       state == *power ? 1 : 0);
    }
    out.family("trv_lamp_use_seconds", "gauge", "The lamp time the projector reports.");
    if (lampHours)
        out.sample("trv_lamp_use_seconds", double(*lampHours) * 3600);
    out.family("trv_temperature_celsius", "gauge",
               "The temperatures the projector reports, in the order of its reply.");
    if (temperatures) {
        static constexpr const char* kSensors[] = {"1", "2", "3"};
        for (std::size_t i = 0; i < 3; ++i)
            out.sample("trv_temperature_celsius", {{"sensor", kSensors[i]}}, (*temperatures)[i]);
    }
    out.family("trv_values_age_seconds", "gauge",
               "Age of the oldest of the status, input, lamp and temperature values.");
    if (valuesAgeS)
        out.sample("trv_values_age_seconds", *valuesAgeS);

    out.family("trv_exchanges_total", "counter", "Commands sent to the projector.");
    out.sample("trv_exchanges_total", double(statistics.exchanges));
    out.family("trv_exchange_failures_total", "counter",
               "Commands that got no reply within the reply window, or lost with the line.");
    out.sample("trv_exchange_failures_total", {{"reason", "no-reply"}}, double(statistics.noReply));
    out.sample("trv_exchange_failures_total", {{"reason", "lost"}}, double(statistics.lost));
    out.family("trv_exchange_duration_seconds", "histogram",
               "Time from a command's send to the end of its reply.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < statistics.replies.size(); ++i) {
        cumulative += statistics.replies[i];
        const std::string le = MetricsText::number(service::LineStatistics::kBucketsMs[i] / 1000.0);
        out.sample("trv_exchange_duration_seconds_bucket", {{"le", le}}, double(cumulative));
    }
    cumulative += statistics.repliesAbove;
    out.sample("trv_exchange_duration_seconds_bucket", {{"le", "+Inf"}}, double(cumulative));
    out.sample("trv_exchange_duration_seconds_sum", double(statistics.replyMsSum) / 1000.0);
    out.sample("trv_exchange_duration_seconds_count", double(cumulative));

    out.family("trv_pjlink_connections", "gauge", "PJLink clients connected.");
    out.sample("trv_pjlink_connections", pjlinkConnections);
    out.family("trv_http_sessions", "gauge", "Web panel sessions logged in.");
    out.sample("trv_http_sessions", httpSessions);
    out.family("trv_login_failures_total", "counter", "Failed logins, by front end.");
    out.sample("trv_login_failures_total", {{"frontend", "pjlink"}}, double(pjlinkLoginFailures));
    out.sample("trv_login_failures_total", {{"frontend", "http"}}, double(httpLoginFailures));
    out.family("trv_poll_interval_seconds", "gauge",
               "How often the bridge reads the values itself; 0 for never.");
    out.sample("trv_poll_interval_seconds", pollS);
    return out.text();
}

} // namespace trv::metrics
