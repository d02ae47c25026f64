#include "link/settings/NumberRule.h"

#include <cmath>

namespace trv::NumberRule {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the longest decimal number at the start of `text` (sign, digits, fraction).
std::size_t numberLength(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1;
        std::size_t fraction = 0;
        while (j < text.size() && isDigit(text[j])) {
            ++j;
            ++fraction;
        }
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
        }
    }
    return digits > 0 ? i : 0;
}

// Exact decimal rounding without the C library, whose number parsing follows the user's locale.
double roundHalfEven(std::string_view number) {
    bool negative = false;
    if (number.front() == '+' || number.front() == '-') {
        negative = number.front() == '-';
        number.remove_prefix(1);
    }
    const std::size_t point = number.find('.');
    std::string_view whole = number.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : number.substr(point + 1);
    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);
    if (whole.size() > 15) // far outside any range the program checks; keeps the sign
        return negative ? -1e300 : 1e300;
    long long value = 0;
    for (const char c : whole)
        value = value * 10 + (c - '0');
    // Compare the fraction with one half.
    int versusHalf = -1;
    if (!fraction.empty()) {
        if (fraction.front() > '5') {
            versusHalf = 1;
        } else if (fraction.front() == '5') {
            versusHalf = fraction.find_first_not_of('0', 1) == std::string_view::npos ? 0 : 1;
        }
    }
    if (versusHalf > 0 || (versusHalf == 0 && value % 2 == 1))
        ++value;
    const double result = static_cast<double>(value);
    return negative ? -result : result;
}

std::string_view skipBlanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    return text.substr(i);
}

} // namespace

double readLeading(std::string_view text) {
    text = skipBlanks(text);
    const std::size_t length = numberLength(text);
    if (length == 0)
        return 0;
    return roundHalfEven(text.substr(0, length));
}

std::optional<double> readWhole(std::string_view text) {
    text = skipBlanks(text);
    const std::size_t length = numberLength(text);
    if (length == 0)
        return std::nullopt;
    if (!skipBlanks(text.substr(length)).empty())
        return std::nullopt;
    return roundHalfEven(text.substr(0, length));
}

bool inRange(double value, int low, int high) {
    return std::isfinite(value) && value >= low && value <= high;
}

} // namespace trv::NumberRule
