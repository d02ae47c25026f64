#include "link/EchoRule.h"

#include <gtest/gtest.h>

namespace trv {
namespace {

TEST(EchoRule, EveryByteValueHasItsPicture) {
    for (int code = 0; code < 256; ++code) {
        const std::string one(1, static_cast<char>(code));
        const Echo echo = renderEcho(one);
        std::string picture;
        if (code == 0x06)
            picture = " [ACK] ";
        else if (code == 0x0D)
            picture = " [CR] ";
        else if (code == 0x0A)
            picture = " [LF]  ";
        else if (code == 0x20)
            picture = "_ ";
        else if (code >= 0x21 && code <= 0x7A)
            picture = one + " ";
        else
            picture = "? ";
        SCOPED_TRACE(code);
        EXPECT_EQ(echo.text, " " + picture);
        EXPECT_EQ(echo.ack, code == 0x06);
        EXPECT_EQ(echo.cr, code == 0x0D);
        EXPECT_EQ(echo.space, code == 0x20);
    }
}

TEST(EchoRule, CommandWithCarriageReturn) {
    EXPECT_EQ(renderEcho("C89\r").text, " C 8 9  [CR] ");
    EXPECT_EQ(renderEcho("C89\r").text.size(), 13u);
    EXPECT_EQ(renderEcho("AFFFC89\r").text, " A F F F C 8 9  [CR] ");
}

TEST(EchoRule, BlanksAreUnderscoresAndEmptyCommandIsBlankAndMark) {
    const Echo echo = renderEcho("CF LAMPMODE FULL\r");
    EXPECT_EQ(echo.text, " C F _ L A M P M O D E _ F U L L  [CR] ");
    EXPECT_TRUE(echo.space);
    EXPECT_EQ(renderEcho("\r").text, "  [CR] ");
}

TEST(EchoRule, PrintableRangeEndsAtLowerZ) {
    EXPECT_EQ(renderEcho("z{|}~\x7f").text, " z ? ? ? ? ? ");
}

TEST(EchoRule, EmptyTextIsOneBlank) { EXPECT_EQ(renderEcho("").text, " "); }

} // namespace
} // namespace trv
