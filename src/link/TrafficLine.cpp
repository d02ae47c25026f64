#include "link/TrafficLine.h"

#include <cstdio>

namespace trv {
namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian), as in H. Hinnant's
// "chrono-Compatible Low-Level Date Algorithms": no table, no library, no time zone.
void civilFromDays(std::int64_t days, int& year, unsigned& month, unsigned& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    month = shifted < 10 ? shifted + 3 : shifted - 9;
    year = static_cast<int>(yearOfEra + era * 400) + (month <= 2 ? 1 : 0);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

// A port name or a reason from the system could hold a tab or a line break, which would
// break the record's columns and lines.
void appendField(std::string& out, std::string_view field) {
    for (const char ch : field)
        out += static_cast<unsigned char>(ch) < 0x20 ? '?' : ch;
}

} // namespace

std::string TrafficLine::isoTime(WallTime time) {
    const std::int64_t localMs = time.utcMs + std::int64_t(time.offsetSeconds) * 1000;
    const std::int64_t days = floorDiv(localMs, 86400000);
    const std::int64_t msOfDay = localMs - days * 86400000;
    int year = 0;
    unsigned month = 0, day = 0;
    civilFromDays(days, year, month, day);
    const int offset = time.offsetSeconds < 0 ? -time.offsetSeconds : time.offsetSeconds;
    char out[80];
    std::snprintf(out, sizeof out, "%04d-%02u-%02uT%02d:%02d:%02d.%03d%c%02d:%02d", year, month,
                  day, int(msOfDay / 3600000), int(msOfDay / 60000 % 60), int(msOfDay / 1000 % 60),
                  int(msOfDay % 1000), time.offsetSeconds < 0 ? '-' : '+', offset / 3600,
                  offset / 60 % 60);
    return out;
}

std::string TrafficLine::hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto code = static_cast<unsigned char>(ch);
        if (!out.empty())
            out += ' ';
        out += kDigits[code >> 4];
        out += kDigits[code & 15];
    }
    return out;
}

std::string TrafficLine::format() const {
    const char* way = direction == Direction::Tx ? "TX" : direction == Direction::Rx ? "RX" : "--";
    std::string out = isoTime(time);
    out.reserve(out.size() + port.size() + text.size() + bytes.size() * 3 + 8);
    out += '\t';
    appendField(out, port);
    out += '\t';
    out += way;
    out += '\t';
    appendField(out, text);
    out += '\t';
    out += hex(bytes);
    out += '\n';
    return out;
}

} // namespace trv
