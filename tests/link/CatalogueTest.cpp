#include "link/Catalogue.h"
#include "link/panel/PanelLayout.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace trv {
namespace {

using Catalogue::commandPart;

TEST(Catalogue, CountsFirstAndLastEntries) {
    ASSERT_EQ(Catalogue::basic().size(), 43u);
    ASSERT_EQ(Catalogue::expand().size(), 589u);
    ASSERT_EQ(Catalogue::expandRead().size(), 154u);
    EXPECT_EQ(Catalogue::basic().front(), "C00[CR]     :POWER ON");
    EXPECT_EQ(Catalogue::basic().back(), "CR7[CR]     :Lamp Mode Read");
    EXPECT_EQ(Catalogue::expand().front(), "CF CONT UP[CR]  \t\t:Set Contrast value");
    EXPECT_EQ(Catalogue::expand()[1], "CF CONT DN[CR]");
    EXPECT_EQ(Catalogue::expand().back(), "CF VMUTE OFF[CR]");
    EXPECT_EQ(Catalogue::expandRead().front(), "CR CONT[CR] \t:Get Contrast value");
    EXPECT_EQ(Catalogue::expandRead()[3], "CR TINT[CR] \t:Get Tint valu");
    EXPECT_EQ(Catalogue::expandRead().back(),
              "CR COLWHEELTYPE[CR] :Get Color wheel type currently installed  ");
}

TEST(Catalogue, IrregularEntries) {
    const auto expand = Catalogue::expand();
    EXPECT_EQ(expand[112], "CF ORGMODE 480I[CR] ");
    EXPECT_EQ(expand[168], "CF INPUT3 DIGITAL[CR");
    EXPECT_EQ(expand[179], "CF INPUT4 DIGITAL[CR");
    EXPECT_EQ(expand[280], "CF MENUSIZE DOUBLE[CR] ");
    EXPECT_EQ(expand[310], "CF PIPMAININP 2 DIGITAL[CR] ");
    EXPECT_EQ(expand[321], "CF PIPMAININP 3 DIGITAL[CR] ");
    EXPECT_EQ(expand[332], "CF PIPMAININP 4 DIGITAL[CR] ");
    EXPECT_EQ(expand[353], "CF PIPSUBINP 2 DIGITAL[CR] ");
    EXPECT_EQ(expand[363], "CF PIPSUBINP 3 DIGITAL[CR] ");
    EXPECT_EQ(expand[373], "CF PIPSUBINP 4 DIGITAL[CR] ");
    EXPECT_EQ(expand[393], "CF PIPFRAMELOCK SUB[CR]\r\n");
    EXPECT_EQ(expand[404], "CF PIPRST RST[CR] \t");
    EXPECT_EQ(expand[474], "CF DYNAMICBLACK OFF[CR] ");
    EXPECT_EQ(expand[497], "CF RSENS FRONTBACK[CR] \t\t");
    EXPECT_EQ(expand[546], "CF SHUTEFFECT L1[CR] ");
    EXPECT_EQ(expand[547], "CF SHUTEFFECT L2[CR] ");
    EXPECT_EQ(expand[561], "CF FRAMELOCK AUTO[CR] \t\tSet Frame Lock function");
    EXPECT_EQ(expand[291], "CF PIP OFF[CR] \t\t\t:Set \" Picture in Picture\"");
    EXPECT_EQ(expand[279], "CF MENUSIZE NORMAL[CR] \t\t:Set Menu size  ");
    EXPECT_EQ(commandPart(expand[168]), "CF INPUT3 DIGITAL");
    EXPECT_EQ(commandPart(expand[393]), "CF PIPFRAMELOCK SUB");
}

TEST(Catalogue, CommandPartsAreCleanAndUniqueInEachList) {
    for (const auto list : {Catalogue::basic(), Catalogue::expand(), Catalogue::expandRead()}) {
        std::set<std::string_view> seen;
        for (const std::string_view entry : list) {
            const std::string_view part = commandPart(entry);
            ASSERT_FALSE(part.empty()) << entry;
            EXPECT_NE(part.front(), ' ') << entry;
            EXPECT_NE(part.back(), ' ') << entry;
            EXPECT_TRUE(seen.insert(part).second) << "twice: " << part;
        }
    }
}

TEST(Catalogue, ParameterSignsOnlyInTheSetList) {
    int inCommand = 0;
    int inDescriptionOnly = 0;
    for (const std::string_view entry : Catalogue::expand()) {
        if (commandPart(entry).find('%') != std::string_view::npos)
            ++inCommand;
        else if (entry.find("%1") != std::string_view::npos)
            ++inDescriptionOnly;
    }
    EXPECT_EQ(inCommand, 65);
    EXPECT_EQ(inDescriptionOnly, 2);
    for (const auto list : {Catalogue::basic(), Catalogue::expandRead()})
        for (const std::string_view entry : list)
            EXPECT_EQ(entry.find('%'), std::string_view::npos) << entry;
}

TEST(Catalogue, BasicListIsThePanelsShortCommandsInOrder) {
    std::vector<std::string_view> panel;
    for (const ButtonRow& row : PanelLayout::buttons()) {
        if (row.command.size() == 3)
            panel.push_back(row.command);
    }
    std::sort(panel.begin(), panel.end());
    std::vector<std::string_view> basic;
    for (const std::string_view entry : Catalogue::basic())
        basic.push_back(commandPart(entry));
    EXPECT_EQ(basic, panel);
}

TEST(Catalogue, CommandPartRule) {
    EXPECT_EQ(commandPart("CR LAMPH"), "CR LAMPH");
    EXPECT_EQ(commandPart("C00[xyz[CR]"), "C00");
    EXPECT_EQ(commandPart("[CR]"), "");
    EXPECT_EQ(commandPart(""), "");
}

} // namespace
} // namespace trv
