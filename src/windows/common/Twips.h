#pragma once

#include <QRect>
#include <cmath>

namespace trv {

// Design units: twips, 15 to a logical pixel (1/1440 inch at 96 dots per inch).
inline constexpr int kTwipsPerPixel = 15;
// Title bar and borders of a designed window, so the design's outer heights map onto client
// heights the same way whatever the window manager draws.
inline constexpr int kDecorationTwips = 480;

inline int twipsToPixels(int twips) {
    return static_cast<int>(std::lround(twips / double(kTwipsPerPixel)));
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

} // namespace trv
