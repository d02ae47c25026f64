#pragma once

#include <QRect>
#include <cmath>

namespace trv {

// Design units: twips, 15 to a logical pixel (1/1440 inch at 96 dots per inch).
inline constexpr int kTwipsPerPixel = 15;

inline int twipsToPixels(int twips) {
    return static_cast<int>(std::lround(twips / double(kTwipsPerPixel)));
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

} // namespace trv
