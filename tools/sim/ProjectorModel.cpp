#include "ProjectorModel.h"

#include "link/Catalogue.h"

#include <algorithm>
#include <cstdio>

namespace trv::sim {
namespace {

constexpr char kAck = '\x06';

// True when `command` is `pattern` with each '%' replaced by one decimal digit.
bool matchesPattern(std::string_view pattern, std::string_view command) {
    if (pattern.size() != command.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' ? !(command[i] >= '0' && command[i] <= '9')
                              : pattern[i] != command[i])
            return false;
    }
    return true;
}

bool inList(std::span<const std::string_view> list, std::string_view command) {
    return std::any_of(list.begin(), list.end(), [&](std::string_view entry) {
        return matchesPattern(Catalogue::commandPart(entry), command);
    });
}

} // namespace

ProjectorModel::ProjectorModel(ModelOptions options)
    : options_(std::move(options)), input_(options_.input) {}

void ProjectorModel::advance(std::int64_t nowMs) {
    if (power_ == Power::Warming && nowMs >= until_)
        power_ = Power::On;
    if (power_ == Power::Cooling && nowMs >= until_)
        power_ = Power::Standby;
}

std::string ProjectorModel::nextFault(const std::string& fault) {
    if (fault.empty())
        return "temp";
    if (fault == "temp")
        return "lamp";
    if (fault == "lamp")
        return "power";
    return "";
}

ProjectorModel::Power ProjectorModel::power(std::int64_t nowMs) {
    advance(nowMs);
    return power_;
}

int ProjectorModel::lampHours(std::int64_t nowMs) {
    const std::int64_t lit = litMs_ + (lit_ ? nowMs - litSince_ : 0);
    return options_.lampHours + static_cast<int>(lit / 3'600'000);
}

std::optional<std::string> ProjectorModel::handle(std::string_view line, std::int64_t nowMs) {
    advance(nowMs);
    if (!line.empty() && line.front() == 'A') {
        if (line.size() < 4)
            return std::nullopt;
        const std::string_view address = line.substr(0, 4);
        const std::string_view command = line.substr(4);
        if (address == "AFFF") {
            execute(command, nowMs); // every unit acts, none answers
            return std::nullopt;
        }
        char own[5];
        std::snprintf(own, sizeof own, "A%03d", options_.id);
        if (address != own)
            return std::nullopt;
        return execute(command, nowMs);
    }
    return execute(line, nowMs);
}

std::string ProjectorModel::execute(std::string_view command, std::int64_t nowMs) {
    if (command == "CR0") {
        if (options_.fault == "temp")
            return "08\r";
        if (options_.fault == "lamp")
            return "21\r";
        if (options_.fault == "power")
            return "10\r";
        switch (power_) {
        case Power::Standby:
            return "80\r";
        case Power::Warming:
            return "40\r";
        case Power::On:
            return "00\r";
        case Power::Cooling:
            return "20\r";
        }
    }
    if (command == "CR1")
        return std::to_string(input_) + "\r";
    if (command == "CR3") {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%05d\r", std::min(lampHours(nowMs), 99999));
        return digits;
    }
    if (command == "CR4")
        return std::string{rear_ ? '0' : '1', ceiling_ ? '0' : '1', '\r'};
    if (command == "CR6")
        return power_ == Power::Standby ? "025.0 024.5 026.0\r" : "038.5 041.0 036.5\r";
    if (command == "CR7")
        return "000 " + lampMode_ + "\r";
    if (command.starts_with("CR ") && inList(Catalogue::expandRead(), command))
        return "000 " + readSetting(command.substr(3)) + "\r";

    // Power on while warming up or cooling down, or off in standby, is taken and changes
    // nothing: the lamp finishes what it is doing first.
    if (command == "C00") {
        if (power_ == Power::Standby) {
            power_ = Power::Warming;
            until_ = nowMs + options_.warmupSeconds * 1000LL;
            if (options_.warmupSeconds == 0)
                power_ = Power::On;
            lit_ = true;
            litSince_ = nowMs;
        }
        return std::string(1, kAck);
    }
    if (command == "C01") {
        if (power_ == Power::On || power_ == Power::Warming) {
            power_ = Power::Cooling;
            until_ = nowMs + options_.cooldownSeconds * 1000LL;
            if (options_.cooldownSeconds == 0)
                power_ = Power::Standby;
            litMs_ += nowMs - litSince_;
            lit_ = false;
            videoMute_ = false;
        }
        return std::string(1, kAck);
    }
    // Only a lit picture can be blanked; unblanking is always taken.
    if (command == "C0D" || command == "C0E") {
        videoMute_ = command == "C0D" && power_ == Power::On;
        return std::string(1, kAck);
    }
    if (command.size() == 3 && command >= "C05" && command <= "C08") {
        input_ = command[2] - '4';
        return std::string(1, kAck);
    }
    if (command == "CF CEIL ON" || command == "CF CEIL OFF")
        ceiling_ = command.ends_with("ON");
    if (command == "CF REAR ON" || command == "CF REAR OFF")
        rear_ = command.ends_with("ON");
    if (command.starts_with("CF LAMPMODE ") && inList(Catalogue::expand(), command))
        lampMode_ = std::string(command.substr(12));
    if (inList(Catalogue::basic(), command) || inList(Catalogue::expand(), command))
        return std::string(1, kAck);
    return "?\r";
}

std::string ProjectorModel::readSetting(std::string_view word) const {
    if (word == "INPUT")
        return std::to_string(input_);
    if (word == "LAMPMODE")
        return lampMode_;
    if (word == "CEIL")
        return ceiling_ ? "ON" : "OFF";
    if (word == "REAR")
        return rear_ ? "ON" : "OFF";
    if (word == "LAMPSTS")
        return lit_ ? "1 I" : "1 O";
    return "0";
}

} // namespace trv::sim
