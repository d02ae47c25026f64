#include "link/ReplyDecoder.h"

#include <array>
#include <utility>

namespace trv {
namespace {

using Row = std::pair<std::string_view, std::string_view>;

constexpr std::array kStatusRows{
    Row{" 0 0", " Power ON"},
    Row{" 8 0", " Stand by"},
    Row{" 4 0", " Count down"},
    Row{" 2 0", " Cooling down"},
    Row{" 1 0", " Power abnormality"},
    Row{" 0 8", " Temperature abnormality"},
    Row{" 1 8", " Temperature abnormality"},
    Row{" 2 8", " Temperature abnormality"},
    Row{" 4 8", " Temperature abnormality"},
    Row{" 8 8", " Temperature abnormality"},
    Row{" 2 1", " Lamp Failure"},
    Row{" 8 1", " Lamp Failure"},
};

constexpr std::array kInputRows{
    Row{" 1", " Input 1"}, Row{" 2", " Input 2"},         Row{" 3", " Input 3"},
    Row{" 4", " Wired"},   Row{" 5", " Wireless/Viewer"},
};

constexpr std::array kSettingRows{
    Row{" 1 1", " Normally"},
    Row{" 1 0", " Top/Bottom reversal"},
    Row{" 0 1", " Left/Right reversal"},
    Row{" 0 0", " Top/Bottom , Left/Right reversal"},
};

template <std::size_t N>
std::optional<std::string> lookUp(const std::array<Row, N>& rows, std::string_view echo,
                                  std::size_t compared) {
    if (echo.size() < compared)
        return std::nullopt;
    const std::string_view head = echo.substr(0, compared);
    for (const auto& [pattern, shown] : rows) {
        if (head == pattern)
            return std::string(shown);
    }
    return std::nullopt;
}

std::string lampTime(std::string_view echo) {
    const std::size_t m = echo.size() > 5 ? echo.size() - 5 : 0;
    std::string result;
    result.reserve(m + 9);
    bool significant = false;
    for (std::size_t i = 0; i < m; ++i) {
        const char c = echo[i];
        if (!significant && (c == ' ' || c == '0')) {
            result += ' ';
        } else {
            result += c;
            significant = true;
        }
    }
    return result + " Hour Use";
}

// `length` characters of `echo` from the 1-based `position`, as far as the echo reaches.
std::string_view slice(std::string_view echo, std::size_t position, std::size_t length) {
    if (position - 1 >= echo.size())
        return {};
    return echo.substr(position - 1, length);
}

std::string temperatures(std::string_view echo) {
    std::string result;
    result += slice(echo, 1, 10);
    result += " deg C ";
    result += slice(echo, 14, 9);
    result += " deg C ";
    result += slice(echo, 26, 9);
    result += " deg C ";
    return result;
}

} // namespace

std::optional<std::string> decodeReply(std::string_view commandText, std::string_view echo,
                                       std::size_t bufferLength) {
    if (commandText == "CR0\r")
        return lookUp(kStatusRows, echo, 4);
    if (commandText == "CR1\r")
        return lookUp(kInputRows, echo, 2);
    if (commandText == "CR4\r")
        return lookUp(kSettingRows, echo, 4);
    if (commandText == "CR3\r")
        return bufferLength == 6 ? std::optional(lampTime(echo)) : std::nullopt;
    if (commandText == "CR6\r")
        return bufferLength == 18 ? std::optional(temperatures(echo)) : std::nullopt;
    return std::nullopt;
}

} // namespace trv
