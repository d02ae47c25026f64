#include "bridge/pjlink/PjlinkInputNames.h"

#include <gtest/gtest.h>

namespace trv::bridge::pjlink {
namespace {

TEST(PjlinkInputNames, NamesAsThePanelUnlessGivenAndOnlyTextWithinTheLimit) {
    const std::string longest(PjlinkInputNames::kMaxName, 'n');
    const struct {
        std::string text;
        std::vector<std::string> names; // inputs 1 to 4; empty: refused
    } rows[] = {
        {PjlinkInputNames::kDefault, {"INPUT 1", "INPUT 2", "INPUT 3", "INPUT 4"}},
        {"", {"INPUT 1", "INPUT 2", "INPUT 3", "INPUT 4"}},
        {"3=HDMI, 1 = Lectern PC ,", {"Lectern PC", "INPUT 2", "HDMI", "INPUT 4"}},
        {"2=a=b,4=P\xc3\xb6"
         "dium \xe6\x98\xa0",
         {"INPUT 1", "a=b", "INPUT 3",
          "P\xc3\xb6"
          "dium \xe6\x98\xa0"}},
        {"4=" + longest, {"INPUT 1", "INPUT 2", "INPUT 3", longest}},
        {"4=" + longest + "n", {}},
        {"4=" + std::string(43, 'n') + "\xe6\x98\xa0" + std::string(83, 'n'), {}}, // 129 bytes
        {"5=Wireless", {}},
        {"0=X", {}},
        {"11=INPUT 1", {}},
        {"1=", {}},
        {"1", {}},
        {"1=a\tb", {}},
        {"1=a\x7f", {}},
        {"1=\xc3", {}},         // cut short
        {"1=\xc0\xaf", {}},     // overlong
        {"1=\xed\xa0\x80", {}}, // a surrogate
        {"1=\xc2\x85", {}},     // a control character of Latin-1
        {"1=\xff", {}},
    };
    for (const auto& row : rows) {
        std::string error;
        const auto names = PjlinkInputNames::parse(row.text, error);
        ASSERT_EQ(bool(names), !row.names.empty()) << row.text << ": " << error;
        EXPECT_EQ(error.empty(), bool(names)) << row.text;
        if (!names)
            continue;
        for (int input = 1; input <= 4; ++input)
            EXPECT_EQ(names->name(input), row.names[std::size_t(input - 1)]) << row.text;
        EXPECT_EQ(names->name(5), "");
    }
}

} // namespace
} // namespace trv::bridge::pjlink
