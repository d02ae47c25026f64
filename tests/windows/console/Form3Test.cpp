#include "windows/console/Form3.h"
#include "support/Harness.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace trv {
namespace {

struct ConsoleTest : ::testing::Test {
    testing::Harness h;
    Form1* form = nullptr;
    Form3* console = nullptr;

    void SetUp() override {
        form = &h.started();
        h.button("Command74")->click();
        console = form->console();
        ASSERT_NE(console, nullptr);
    }
    template <typename T> T* child(const char* name) {
        return console->findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* text1() { return child<QLineEdit>("Text1"); }
    bool shown(const char* name) { return !child<QWidget>(name)->isHidden(); }
    void choose(const char* combo, int index) {
        QComboBox* list = child<QComboBox>(combo);
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    int indexOf(const char* combo, const char* commandStart) {
        QComboBox* list = child<QComboBox>(combo);
        for (int i = 0; i < list->count(); ++i) {
            if (list->itemText(i).startsWith(QString::fromLatin1(commandStart)))
                return i;
        }
        return -1;
    }
};

TEST_F(ConsoleTest, StateRightAfterOpening) {
    EXPECT_EQ(console->windowTitle(), "Command List");
    EXPECT_FALSE(h.visible("Frame15"));
    EXPECT_EQ(form->link().timer2().interval(), 7000);
    EXPECT_EQ(form->link().timer4().interval(), 7500);
    EXPECT_TRUE(shown("Combo1"));
    EXPECT_FALSE(shown("Combo2"));
    EXPECT_FALSE(shown("Combo3"));
    EXPECT_EQ(child<QComboBox>("Combo1")->currentText(), "C00[CR]     :POWER ON");
    EXPECT_EQ(text1()->text(), "C00[CR]");
    EXPECT_EQ(console->sendStr(), "C00\r");
    EXPECT_TRUE(shown("Label2"));
    EXPECT_FALSE(shown("Label1"));
    for (const char* combo : {"Combo1", "Combo2", "Combo3"})
        EXPECT_EQ(child<QComboBox>(combo)->y(), 104) << combo;
    EXPECT_EQ(child<QComboBox>("Combo1")->count(), 43);
    EXPECT_EQ(child<QComboBox>("Combo2")->count(), 589);
    EXPECT_EQ(child<QComboBox>("Combo3")->count(), 154);
}

TEST_F(ConsoleTest, SendTwiceWithTheUnitAddressAndFullPeriods) {
    h.child<QRadioButton>("Option2")->click();
    h.clock.advance(3000);
    child<QPushButton>("Command1")->click();
    child<QPushButton>("Command1")->click();
    EXPECT_EQ(h.serial.writes, (std::vector<std::string>{"AFFFC00\r", "AFFFC00\r"}));
    EXPECT_FALSE(shown("Label1"));
    EXPECT_FALSE(shown("Label2"));
    EXPECT_EQ(console->sendStr(), "C00\r");
    h.clock.advance(6999);
    EXPECT_EQ(h.label("Label12"), "");
    h.clock.advance(1);
    EXPECT_EQ(h.label("Label12"), " X X X X ");
    h.clock.advance(500);
    EXPECT_EQ(h.label("Label12"), "");
}

TEST_F(ConsoleTest, ParameterEntryShowsHintAndOvertypingReachesTheWire) {
    console->Command4_Click();
    EXPECT_EQ(text1()->text(), "CF CONT UP[CR]");
    const int index = indexOf("Combo2", "CF CONT 0%%");
    choose("Combo2", index);
    EXPECT_EQ(text1()->text(), "CF CONT 0%%[CR]");
    EXPECT_EQ(console->sendStr(), "CF CONT 0%%\r");
    EXPECT_TRUE(shown("Label1"));
    text1()->setCursorPosition(9);
    QTest::keyClick(text1(), Qt::Key_Delete);
    QTest::keyClick(text1(), Qt::Key_Delete);
    QTest::keyClicks(text1(), QStringLiteral("50"));
    EXPECT_EQ(console->sendStr(), "CF CONT 050\r");
    child<QPushButton>("Command1")->click();
    EXPECT_EQ(h.serial.writes.back(), "CF CONT 050\r");
}

TEST_F(ConsoleTest, DescriptionPercentAndMissingBracket) {
    console->Command4_Click();
    choose("Combo2", indexOf("Combo2", "CF INPUT1 DIGITAL"));
    EXPECT_TRUE(shown("Label1"));
    choose("Combo2", 168);
    EXPECT_EQ(text1()->text(), "CF INPUT3 DIGITAL[CR]");
    EXPECT_FALSE(shown("Label1"));
    choose("Combo2", 393);
    EXPECT_EQ(console->sendStr(), "CF PIPFRAMELOCK SUB\r");
}

TEST_F(ConsoleTest, TypedTextRules) {
    text1()->setText(QStringLiteral("CR LAMPH"));
    EXPECT_EQ(console->sendStr(), "CR LAMPH\r");
    text1()->setText(QStringLiteral("C00[anything"));
    EXPECT_EQ(console->sendStr(), "C00\r");
    text1()->setText(QStringLiteral("[CR]"));
    EXPECT_EQ(console->sendStr(), "\r");
    text1()->setText(QString());
    EXPECT_EQ(console->sendStr(), "\r");
    h.child<QRadioButton>("Option4")->click();
    child<QPushButton>("Command1")->click();
    EXPECT_EQ(h.serial.writes.back(), "A002\r");
    text1()->setText(QStringLiteral("C0\r\n0[CR]"));
    EXPECT_EQ(console->sendStr(), "C00\r");
}

TEST_F(ConsoleTest, ListSwitchesAndTheParameterHint) {
    console->Command4_Click();
    choose("Combo2", 2);
    ASSERT_TRUE(shown("Label1"));
    console->Command3_Click();
    EXPECT_TRUE(shown("Combo1"));
    EXPECT_FALSE(shown("Combo2"));
    EXPECT_EQ(text1()->text(), "C00[CR]");
    EXPECT_TRUE(shown("Label1"));
    console->Command5_Click();
    EXPECT_TRUE(shown("Combo3"));
    EXPECT_EQ(text1()->text(), "CR CONT[CR]");
    EXPECT_TRUE(shown("Label1"));
    console->Command4_Click();
    EXPECT_FALSE(shown("Label1"));
}

TEST_F(ConsoleTest, CloseRestoresAndReopeningStartsAfresh) {
    console->Command5_Click();
    h.button("Command74")->click(); // already open: brought forward, not reloaded
    EXPECT_EQ(form->console(), console);
    EXPECT_TRUE(shown("Combo3"));
    console->Command2_Click();
    EXPECT_TRUE(h.visible("Frame15"));
    EXPECT_EQ(form->link().timer2().interval(), 1000);
    EXPECT_EQ(form->link().timer4().interval(), 1200);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(form->console(), nullptr);
    h.button("Command74")->click();
    console = form->console();
    EXPECT_EQ(text1()->text(), "C00[CR]");
    EXPECT_TRUE(shown("Combo1"));
    console->close(); // the frame's close box restores the same way
    EXPECT_TRUE(h.visible("Frame15"));
    EXPECT_EQ(form->link().timer2().interval(), 1000);
}

TEST_F(ConsoleTest, ConsoleSendIsDecodedAgainstThePanelsLastCommand) {
    h.button("Command44")->click();
    child<QPushButton>("Command1")->click();
    h.serial.deliver("80\r");
    EXPECT_EQ(h.label("Label25"), " Stand by");
}

TEST_F(ConsoleTest, MainWindowClosingTakesTheConsoleWithIt) {
    form->show();
    form->close();
    EXPECT_FALSE(console->isVisible());
    EXPECT_FALSE(form->isVisible());
}

} // namespace
} // namespace trv
