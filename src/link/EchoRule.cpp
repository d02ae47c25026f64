#include "link/EchoRule.h"

namespace trv {

Echo renderEcho(std::string_view text) {
    Echo echo;
    echo.text.reserve(1 + text.size() * 7);
    echo.text += ' ';
    for (const char ch : text) {
        const auto code = static_cast<unsigned char>(ch);
        if (code == 0x06) {
            echo.text += " [ACK] ";
            echo.ack = true;
        } else if (code == 0x0D) {
            echo.text += " [CR] ";
            echo.cr = true;
        } else if (code == 0x0A) {
            echo.text += " [LF]  ";
        } else if (code == 0x20) {
            echo.text += "_ ";
            echo.space = true;
        } else if (code >= 0x21 && code <= 0x7A) {
            echo.text += ch;
            echo.text += ' ';
        } else {
            echo.text += "? ";
        }
    }
    return echo;
}

} // namespace trv
