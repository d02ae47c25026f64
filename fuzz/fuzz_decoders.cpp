// The reply decoders over arrivals split at random: the first byte picks the command, each
// following byte below 0x20 ends a piece. Decoding never reads outside the echo (the address
// sanitizer watches), its text is printable and bounded, and a reply has a value only where
// the status line shows text for it.
#include "FuzzCheck.h"
#include "link/EchoRule.h"
#include "link/ReplyDecoder.h"
#include "link/ReplyValue.h"

#include <array>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static constexpr std::array<const char*, 7> kCommands{"CR0\r", "CR1\r", "CR4\r",    "CR3\r",
                                                          "CR6\r", "CR7\r", "A001CR0\r"};
    const std::string command = kCommands[data[0] % kCommands.size()];
    std::string buffer;
    std::size_t i = 1;
    while (i < size) {
        std::size_t piece = 1 + data[i] % 8; // length of this arrival
        ++i;
        for (; piece > 0 && i < size; --piece, ++i)
            buffer += static_cast<char>(data[i]);
        if (buffer.size() > 1024)
            buffer.clear();
        const trv::Echo echo = trv::renderEcho(buffer);
        const auto status = trv::decodeReply(command, echo.text, buffer.size());
        if (status) {
            FUZZ_CHECK(status->size() <= echo.text.size() + 40);
            for (const char c : *status)
                FUZZ_CHECK(printable(c));
            FUZZ_CHECK(command.rfind("CR", 0) == 0); // never with an address
        }
        // A value only where the status line shows text, and numbers only as the line shows.
        if (const auto value = trv::ReplyValue::decode(command, buffer)) {
            FUZZ_CHECK(status.has_value());
            if (const auto* lamp = std::get_if<trv::ReplyValue::LampRead>(&value->read))
                FUZZ_CHECK(lamp->hours >= 0 && lamp->hours <= 99999);
        }
    }
    return 0;
}
