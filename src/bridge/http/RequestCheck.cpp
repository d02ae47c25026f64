#include "bridge/http/RequestCheck.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace trv::http {
namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

bool digits(std::string_view s) {
    return !s.empty() && s.size() <= 18 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

struct Authority {
    std::string host; // lower case, an IPv6 address in brackets
    int port = -1;    // -1: none given
};

std::optional<Authority> authority(std::string_view text) {
    Authority a;
    std::string_view portText;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == text.npos)
            return std::nullopt;
        a.host = lower(text.substr(0, close + 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (!rest.starts_with(':'))
                return std::nullopt;
            portText = rest.substr(1);
        }
    } else {
        const auto colon = text.rfind(':');
        a.host = lower(text.substr(0, colon));
        if (colon != text.npos)
            portText = text.substr(colon + 1);
        if (colon != text.npos && text.find(':') != colon)
            return std::nullopt; // an IPv6 address without brackets
    }
    if (a.host.empty() || a.host.find_first_of("/?#@ ") != std::string::npos)
        return std::nullopt;
    if (!portText.empty() || text.ends_with(':')) {
        if (!digits(portText) || std::stoi(std::string(portText)) > 65535)
            return std::nullopt;
        a.port = std::stoi(std::string(portText));
    }
    return a;
}

int defaultPort(const std::string& scheme) { return scheme == "https" ? 443 : 80; }

bool listed(const std::string& value, std::string_view item) {
    std::size_t at = 0;
    while (at <= value.size()) {
        auto comma = value.find(',', at);
        if (comma == std::string::npos)
            comma = value.size();
        std::string_view part = std::string_view(value).substr(at, comma - at);
        while (!part.empty() && (part.front() == ' ' || part.front() == '\t'))
            part.remove_prefix(1);
        while (!part.empty() && (part.back() == ' ' || part.back() == '\t'))
            part.remove_suffix(1);
        if (part == item)
            return true;
        at = comma + 1;
    }
    return false;
}

RequestCheck::Verdict refused(int status, std::string reason, bool upgrade = false) {
    return {status, std::move(reason), upgrade, 0};
}

} // namespace

RequestCheck::Verdict RequestCheck::judge(const RequestHead& head, const Site& site,
                                          std::size_t bodyLimit) {
    const int port = defaultPort(site.scheme);
    if (!head.values("transfer-encoding").empty())
        return refused(411, "a body needs a Content-Length");
    const auto lengths = head.values("content-length");
    std::size_t length = 0;
    if (lengths.size() > 1 || (lengths.size() == 1 && !digits(lengths.front())))
        return refused(400, "bad Content-Length");
    if (lengths.size() == 1) {
        length = std::stoull(std::string(lengths.front()));
        if (length > bodyLimit)
            return refused(413, "body too large");
    }

    // Connection names "upgrade", or an Upgrade field at all: more than any server upgrades on,
    // so that nothing upgrades without the checks below.
    bool upgrade = !head.values("upgrade").empty();
    for (const std::string_view value : head.values("connection"))
        upgrade = upgrade || listed(lower(value), "upgrade");

    // The server upgrades on one Connection naming "upgrade" with "Upgrade: websocket" and
    // serves anything else as a plain request on a connection kept open: only the first may
    // stop being looked at here, so anything between the two is refused.
    const auto upgrades = head.values("upgrade");
    const auto connections = head.values("connection");
    if (upgrade && (upgrades.size() != 1 || lower(upgrades.front()) != "websocket" ||
                    connections.size() != 1 || !listed(lower(connections.front()), "upgrade")))
        return refused(400, "only a WebSocket upgrade is served", upgrade);

    const auto hosts = head.values("host");
    if (hosts.size() != 1)
        return refused(400, "one Host field needed", upgrade);
    const auto host = authority(hosts.front());
    if (!host)
        return refused(400, "bad Host", upgrade);
    const int hostPort = host->port < 0 ? port : host->port;
    bool known = host->host + ':' + std::to_string(hostPort) == lower(site.own);
    for (const std::string& name : site.names) {
        const auto allowed = authority(name);
        known = known || (allowed && allowed->host == host->host &&
                          (allowed->port < 0 || allowed->port == hostPort));
    }
    if (!known)
        return refused(403, "unknown Host", upgrade);

    const bool safe = head.method == "GET" || head.method == "HEAD" || head.method == "OPTIONS";
    const auto origins = head.values("origin");
    if ((!safe || upgrade) && !origins.empty()) {
        bool same = false;
        if (origins.size() == 1) {
            const std::string origin = lower(origins.front());
            const std::string prefix = site.scheme + "://";
            if (origin.starts_with(prefix)) {
                const auto from = authority(std::string_view(origin).substr(prefix.size()));
                same = from && from->host == host->host &&
                       (from->port < 0 ? port : from->port) == hostPort;
            }
        }
        if (!same)
            return refused(403, "foreign Origin", upgrade);
    }
    return {0, {}, upgrade, length};
}

} // namespace trv::http
