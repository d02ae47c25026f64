#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace trv {

// Turns the echo of a reply to one of the five decoded read commands into status-line text.
// `commandText` is what was last sent from the panel, `echo` the receive display's text and
// `bufferLength` the number of characters received so far. Nothing when the status line stays.
std::optional<std::string> decodeReply(std::string_view commandText, std::string_view echo,
                                       std::size_t bufferLength);

} // namespace trv
