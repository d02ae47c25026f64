#include "link/panel/PanelLayout.h"

#include <array>

namespace trv::PanelLayout {
namespace {

using enum Face;
using enum Arrow;

// clang-format off
constexpr std::array kFrames{
    //        frame      title      caption                 left  top  width height  tl  tt  tw
    FrameRow{"Frame1",  "Label1",  "POWER",                 120,    0, 1210, 1575, 120, 240, 970},
    FrameRow{"Frame2",  "Label2",  "MODE SET",              1450,   0, 5600,  735, 120, 120, 5360},
    FrameRow{"Frame5",  "Label6",  "SCREEN",                7170,   0, 2860,  735, 120, 120, 2620},
    FrameRow{"Frame4",  "Label5",  "VIDEO MUTE",            1450, 840, 2740,  735, 120, 120, 2500},
    FrameRow{"Frame7",  "Label8",  "FREEZE",                4310, 840, 2740,  735, 120, 120, 2500},
    FrameRow{"Frame21", "Label18", "LAMP MODE",             7170, 840, 2860,  735, 120, 120, 2620},
    FrameRow{"Frame6",  "Label7",  "MENU",                  120, 1680, 2700, 1935, 120, 120, 2460},
    FrameRow{"Frame10", "Label13", "KEYSTONE",              2940, 1680, 1830, 1935, 120, 120, 1590},
    FrameRow{"Frame3",  "Label4",  "LENS SHIFT",            4890, 1680, 1830, 1935, 120, 120, 1590},
    FrameRow{"Frame17", "Label16", "ZOOM",                  6840, 1680,  990, 1500,  60, 120, 870},
    FrameRow{"Frame19", "Label3",  "FOUCS",                 7940, 1680,  990, 1500,  60, 120, 870},
    FrameRow{"Frame16", "Label17", "D.ZOOM",                9035, 1680,  990, 1500,  60, 120, 870},
    FrameRow{"Frame20", "Label14", "R/C KEY OFF",           120, 3720, 5240,  555, 120, 180, 1400, true},
    FrameRow{"Frame9",  "",        "",                      120, 4700, 8295,  948,   0,   0, 0},
    FrameRow{"Frame15", "Label26", "STATUS",                120, 6140, 6105,  560, 120, 165, 855, true},
    FrameRow{"Frame8",  "Label15", "Command with Address",  120, 6840, 8200,  615, 120, 240, 2535, true},
};

constexpr std::array kButtons{
    //         name         frame      caption          left   top  width height command  hold face  pt   arrow
    ButtonRow{"Command17", "Frame1",  "ON",             180,  600,  870, 300, "C00", 0, On,    9,    None},
    ButtonRow{"Command18", "Frame1",  "OFF",            180, 1080,  870, 300, "C01", 0, Off,   9,    None},
    ButtonRow{"Command27", "Frame2",  "INPUT 1",        120,  360, 1250, 300, "C05", 0, Teal,  9.75, None},
    ButtonRow{"Command28", "Frame2",  "INPUT 2",       1490,  360, 1250, 300, "C06", 0, Teal,  9.75, None},
    ButtonRow{"Command53", "Frame2",  "INPUT 3",       2860,  360, 1250, 300, "C07", 0, Teal,  9.75, None},
    ButtonRow{"Command41", "Frame2",  "INPUT 4",       4230,  360, 1250, 300, "C08", 0, Teal,  9.75, None},
    ButtonRow{"Command31", "Frame5",  "NORMAL",         120,  360, 1250, 300, "C0F", 0, Teal,  9.75, None},
    ButtonRow{"Command32", "Frame5",  "FULL",          1490,  360, 1250, 300, "C10", 0, Teal,  9.75, None},
    ButtonRow{"Command21", "Frame4",  "ON",             120,  360, 1190, 300, "C0D", 0, On,    9,    None},
    ButtonRow{"Command22", "Frame4",  "OFF",           1430,  360, 1190, 300, "C0E", 0, Off,   9,    None},
    ButtonRow{"Command25", "Frame7",  "ON",             120,  360, 1190, 300, "C43", 0, On,    9,    None},
    ButtonRow{"Command26", "Frame7",  "OFF",           1430,  360, 1190, 300, "C44", 0, Off,   9,    None},
    ButtonRow{"Command9",  "Frame21", "FULL",           100,  360,  800, 300, "CF LAMPMODE FULL",  0, Teal, 9, None},
    ButtonRow{"Command68", "Frame21", "LAMP1",         1020,  360,  830, 300, "CF LAMPMODE LAMP1", 0, Teal, 9, None},
    ButtonRow{"Command34", "Frame21", "LAMP2",         1920,  360,  830, 300, "CF LAMPMODE LAMP2", 0, Teal, 9, None},
    ButtonRow{"Command23", "Frame6",  "ON",             120,  460,  750, 300, "C1C", 0, On,    9,    None},
    ButtonRow{"Command24", "Frame6",  "OFF",            120,  940,  750, 300, "C1D", 0, Off,   9,    None},
    ButtonRow{"Command6",  "Frame6",  "ENTER",          120, 1420,  750, 300, "C3F", 0, Enter, 9,    None},
    ButtonRow{"Command5",  "Frame6",  "",              1440,  460,  735, 300, "C3C", 3, Pointer, 9,    Up},
    ButtonRow{"Command7",  "Frame6",  "",              1440, 1420,  735, 300, "C3D", 4, Pointer, 9,    Down},
    ButtonRow{"Command38", "Frame6",  "",               990,  940,  735, 300, "C3B", 5, Pointer, 9,    Left},
    ButtonRow{"Command8",  "Frame6",  "",              1845,  940,  735, 300, "C3A", 6, Pointer, 9,    Right},
    ButtonRow{"Command10", "Frame10", "",               548,  460,  735, 300, "C8E", 11, Pointer, 9,   Up},
    ButtonRow{"Command35", "Frame10", "",               548, 1420,  735, 300, "C8F", 12, Pointer, 9,   Down},
    ButtonRow{"Command4",  "Frame10", "",               120,  940,  735, 300, "C91", 13, Pointer, 9,   Left},
    ButtonRow{"Command11", "Frame10", "",               975,  940,  735, 300, "C90", 14, Pointer, 9,   Right},
    ButtonRow{"Command12", "Frame3",  "",               548,  480,  735, 300, "C5D", 15, Pointer, 9,   Up},
    ButtonRow{"Command20", "Frame3",  "",               548, 1440,  735, 300, "C5E", 16, Pointer, 9,   Down},
    ButtonRow{"Command15", "Frame3",  "",               120,  960,  735, 300, "C5F", 17, Pointer, 9,   Left},
    ButtonRow{"Command19", "Frame3",  "",               975,  960,  735, 300, "C60", 18, Pointer, 9,   Right},
    ButtonRow{"Command30", "Frame17", "",               120,  480,  735, 300, "C47", 1, Pointer, 9,    Up},
    ButtonRow{"Command42", "Frame17", "",               120,  960,  735, 300, "C46", 2, Pointer, 9,    Down},
    ButtonRow{"Command1",  "Frame19", "",               120,  480,  735, 300, "C4B", 7, Pointer, 9,    Up},
    ButtonRow{"Command2",  "Frame19", "",               120,  960,  735, 300, "C4A", 8, Pointer, 9,    Down},
    ButtonRow{"Command48", "Frame16", "",               120,  480,  735, 300, "C30", 9, Pointer, 9,    Up},
    ButtonRow{"Command49", "Frame16", "",               120,  960,  735, 300, "C31", 10, Pointer, 9,   Down},
    ButtonRow{"Command3",  "",        "DISPLAY CLEAR", 6840, 3260, 1740, 300, "C1E", 0, Teal,  9,    None},
    ButtonRow{"Command73", "",        "IMAGE",         8760, 3260, 1200, 300, "C27", 0, Teal,  9,    None},
    ButtonRow{"Command13", "",        "AUTO PC ADJ",   6840, 3620, 1740, 300, "C89", 0, Teal,  9,    None},
    ButtonRow{"Command14", "",        "P-TIMER",       8760, 3620, 1200, 300, "C8A", 0, Teal,  9,    None},
    ButtonRow{"Command60", "Frame20", "NONE",          1560,  150, 1095, 300, "CF KEYDIS NONE", 0, Teal, 9.75, None},
    ButtonRow{"Command61", "Frame20", "R/C",           2760,  150, 1095, 300, "CF KEYDIS RC",   0, Teal, 9.75, None},
    ButtonRow{"Command62", "Frame20", "KEY",           3990,  150, 1095, 300, "CF KEYDIS KEY",  0, Teal, 9.75, None},
    ButtonRow{"Command16", "",        "END",           8520, 4080, 1500, 375, "",    0, Standard, 12, None},
    ButtonRow{"Command44", "",        "STATUS",        8520, 4700, 1500, 350, "CR0", 0, Read,  9.75, None},
    ButtonRow{"Command45", "",        "INPUT MODE",    8520, 5150, 1500, 350, "CR1", 0, Read,  9.75, None},
    ButtonRow{"Command54", "",        "TEMP",          8520, 5600, 1500, 350, "CR6", 0, Read,  9.75, None},
    ButtonRow{"Command47", "",        "SETTING",       8520, 6050, 1500, 350, "CR4", 0, Read,  9.75, None},
    ButtonRow{"Command46", "",        "LAMP TIME",     8520, 6500, 1500, 350, "CR3", 0, Read,  9.75, None},
    ButtonRow{"Command76", "",        "LAMP MODE",     8520, 6950, 1500, 350, "CR7", 0, Read,  9,    None},
    ButtonRow{"Command74", "",        "Command Table", 6480, 5880, 1850, 375, "",    0, Standard, 9.75, None},
    ButtonRow{"Command33", "",        "COM",           6480, 6350, 1850, 375, "",    0, Standard, 9.75, None},
};

constexpr std::array kAddresses{
    AddressRow{"Option1", "SINGLE", 2880, 240, 975, ""},
    AddressRow{"Option2", "ALL",    3960, 240, 700, "AFFF"},
    AddressRow{"Option3", "001",    4800, 240, 700, "A001"},
    AddressRow{"Option4", "002",    5640, 240, 700, "A002"},
    AddressRow{"Option5", "003",    6480, 240, 700, "A003"},
    AddressRow{"Option6", "004",    7320, 240, 700, "A004"},
};
// clang-format on

} // namespace

std::span<const FrameRow> frames() { return kFrames; }
std::span<const ButtonRow> buttons() { return kButtons; }
std::span<const AddressRow> addresses() { return kAddresses; }

std::string_view holdCommand(int holdIndex) {
    for (const ButtonRow& row : kButtons) {
        if (row.holdIndex == holdIndex && holdIndex != 0)
            return row.command;
    }
    return {};
}

bool isHoldCommand(std::string_view command) {
    for (const ButtonRow& row : kButtons) {
        if (row.holdIndex != 0 && row.command == command)
            return true;
    }
    return false;
}

std::string_view arrowName(Arrow arrow) {
    switch (arrow) {
    case Arrow::Up:
        return "up";
    case Arrow::Down:
        return "down";
    case Arrow::Left:
        return "left";
    case Arrow::Right:
        return "right";
    case Arrow::None:
        break;
    }
    return {};
}

Rgb faceColour(Face face) {
    switch (face) {
    case On:
        return {128, 255, 128};
    case Off:
        return {255, 128, 128};
    case Teal:
        return {0, 192, 192};
    case Enter:
        return {255, 192, 128};
    case Pointer:
        return {255, 255, 128};
    case Read:
        return {192, 255, 255};
    case Standard:
        break;
    }
    return {0, 0, 0};
}

} // namespace trv::PanelLayout
