#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace trv::metrics {

// Writes Prometheus' text exposition format 0.0.4: each family's HELP and TYPE, then its
// samples, label values and help texts escaped as the format says.
class MetricsText {
public:
    using Labels = std::initializer_list<std::pair<std::string_view, std::string_view>>;
    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    // `type`: "counter", "gauge", "histogram".
    void family(std::string_view name, std::string_view type, std::string_view help);
    // `name` is the family's, or with its suffix ("_bucket", "_sum", "_count").
    void sample(std::string_view name, Labels labels, double value);
    void sample(std::string_view name, double value) { sample(name, {}, value); }
    const std::string& text() const { return text_; }

    // The value as the format writes it: integers without a fraction, "+Inf", "NaN".
    static std::string number(double value);
    static std::string escapeLabel(std::string_view value);
    static std::string escapeHelp(std::string_view value);

private:
    // Backslashes and line ends, and in a label value the double quote, as the format wants.
    static std::string escaped(std::string_view value, bool quote);

    std::string text_;
};

} // namespace trv::metrics
