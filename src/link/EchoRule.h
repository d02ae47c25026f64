#pragma once

#include <string>
#include <string_view>

namespace trv {

// The one-line picture of sent or received text on the traffic displays.
struct Echo {
    std::string text;
    bool ack = false;   // an acknowledge mark was drawn
    bool cr = false;    // a carriage return mark was drawn
    bool space = false; // a blank was drawn as "_"
};

Echo renderEcho(std::string_view text);

} // namespace trv
