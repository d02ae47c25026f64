#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace trv {

// The panel's design: every frame, title and button of the main window, in twips.
struct Rgb {
    std::uint8_t r, g, b;
};

enum class Face : std::uint8_t { On, Off, Teal, Enter, Pointer, Read, Standard };
enum class Arrow : std::uint8_t { None, Up, Down, Left, Right };

struct FrameRow {
    std::string_view frame; // design name, "" for the window itself
    std::string_view title; // design name of the title label
    std::string_view caption;
    int left, top, width, height;
    int titleLeft, titleTop, titleWidth;
    bool titleAtLeft = false; // one-row frames: the title starts the row instead of topping it
};

struct ButtonRow {
    std::string_view name;    // design name, e.g. "Command17"
    std::string_view frame;   // containing frame, "" for the window
    std::string_view caption; // empty for arrow buttons
    int left, top, width, height;
    std::string_view command; // empty for the three buttons that do not send
    int holdIndex;            // 0 for a click button, 1..18 for a press-and-hold button
    Face face;
    double pointSize;
    Arrow arrow;
};

struct AddressRow {
    std::string_view name; // "Option1".."Option6"
    std::string_view caption;
    int left, top, width;
    std::string_view address;
};

namespace PanelLayout {

inline constexpr int kClientWidth = 10185;
inline constexpr int kClientHeight = 7620;
inline constexpr int kCompactHeight = 5100; // outer heights
inline constexpr int kFullHeight = 8100;
inline constexpr int kHeightThreshold = 7000;
// The title bar and borders: the full outer height over the client area.
inline constexpr int kDecorationHeight = kFullHeight - kClientHeight;

std::span<const FrameRow> frames();
std::span<const ButtonRow> buttons();
std::span<const AddressRow> addresses();

// The command of a press-and-hold row (1..18); empty for any other index.
std::string_view holdCommand(int holdIndex);
// Whether `command` is one of the press-and-hold rows' commands.
bool isHoldCommand(std::string_view command);
// "up", "down", "left", "right"; empty for none.
std::string_view arrowName(Arrow arrow);
Rgb faceColour(Face face);

} // namespace PanelLayout
} // namespace trv
