#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace trv::sim {

// What the simulated projector is like when it starts.
struct ModelOptions {
    int id = 1;              // unit number 1..4
    int warmupSeconds = 5;   // "40" after power on, then "00"
    int cooldownSeconds = 5; // "20" after power off, then "80"
    int lampHours = 1234;    // hours at start, growing while the lamp is lit
    std::string fault;       // "", "temp", "lamp" or "power"
    int input = 1;           // 1..4, or 5 (wireless/viewer), which no command selects
};

// A TRV-M5400 as seen from its serial line: one command in, at most one reply out.
class ProjectorModel {
public:
    enum class Power { Standby, Warming, On, Cooling };

    explicit ProjectorModel(ModelOptions options);

    // Handles one command line without its carriage return, received at `nowMs`.
    // Nothing when the projector stays silent (another unit's command, or one for all units).
    std::optional<std::string> handle(std::string_view line, std::int64_t nowMs);

    Power power(std::int64_t nowMs);
    // The fault the status read reports from now on: "", "temp", "lamp" or "power".
    void setFault(std::string fault) { options_.fault = std::move(fault); }
    const std::string& fault() const { return options_.fault; }
    // The fault after `fault` in the order none, temp, lamp, power, none.
    static std::string nextFault(const std::string& fault);
    int lampHours(std::int64_t nowMs);
    // Blanked picture: set by C0D while on, cleared by C0E and by going off. The line has no
    // read for it.
    bool videoMute() const { return videoMute_; }

private:
    std::string execute(std::string_view command, std::int64_t nowMs);
    std::string readSetting(std::string_view word) const;
    void advance(std::int64_t nowMs);

    ModelOptions options_;
    Power power_ = Power::Standby;
    std::int64_t until_ = 0;    // end of warming up or cooling down
    std::int64_t litSince_ = 0; // when the lamp was last lit
    std::int64_t litMs_ = 0;    // lamp time before that
    bool lit_ = false;
    int input_ = 1;
    bool videoMute_ = false;
    bool ceiling_ = false;
    bool rear_ = false;
    std::string lampMode_ = "FULL";
};

} // namespace trv::sim
