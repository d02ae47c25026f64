#pragma once

#include <optional>
#include <string_view>

// How numbers are read from stored settings and from the port number box.
namespace trv::NumberRule {

// Leading decimal number of a stored text (blanks skipped, optional sign, digits, optional
// fraction), rounded to the nearest whole number with halves to even; 0 when there is none.
double readLeading(std::string_view text);

// The whole text as one decimal number (blanks around it allowed), rounded as above;
// nothing when the text is not exactly one number.
std::optional<double> readWhole(std::string_view text);

// True when a rounded number lies within [low, high]; safe for any magnitude.
bool inRange(double value, int low, int high);

} // namespace trv::NumberRule
