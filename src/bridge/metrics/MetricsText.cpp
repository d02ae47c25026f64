#include "bridge/metrics/MetricsText.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace trv::metrics {

void MetricsText::family(std::string_view name, std::string_view type, std::string_view help) {
    text_.append("# HELP ").append(name).append(" ").append(escapeHelp(help)).append("\n");
    text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void MetricsText::sample(std::string_view name, Labels labels, double value) {
    text_.append(name);
    if (labels.size() > 0) {
        text_.push_back('{');
        bool first = true;
        for (const auto& [label, labelValue] : labels) {
            if (!first)
                text_.push_back(',');
            first = false;
            text_.append(label).append("=\"").append(escapeLabel(labelValue)).append("\"");
        }
        text_.push_back('}');
    }
    text_.append(" ").append(number(value)).append("\n");
}

std::string MetricsText::number(double value) {
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    char buffer[32];
    // Whole numbers (counts, seconds of lamp time) in full, not as "9e+06".
    if (value == std::trunc(value) && std::fabs(value) < 9007199254740992.0) {
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::int64_t(value));
        return std::string(buffer, result.ptr);
    }
    // The shortest text that reads back as the same double.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string MetricsText::escapeLabel(std::string_view value) { return escaped(value, true); }

std::string MetricsText::escapeHelp(std::string_view value) { return escaped(value, false); }

std::string MetricsText::escaped(std::string_view value, bool quote) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quote)
            out += "\\\"";
        else
            out.push_back(c);
    }
    return out;
}

} // namespace trv::metrics
