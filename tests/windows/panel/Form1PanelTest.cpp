#include "link/panel/PanelLayout.h"
#include "support/Harness.h"

#include <QFrame>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace trv {
namespace {

using testing::Harness;

int px(int twips) { return static_cast<int>(std::lround(twips / 15.0)); }

TEST(PanelLayout, EveryButtonAtItsPlaceWithItsCaption) {
    Harness h;
    h.started();
    for (const ButtonRow& row : PanelLayout::buttons()) {
        SCOPED_TRACE(std::string(row.name));
        QPushButton* button = h.button(std::string(row.name).c_str());
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->geometry(),
                  QRect(px(row.left), px(row.top), px(row.width), px(row.height)));
        EXPECT_EQ(button->text().toStdString(), row.caption);
        const QString frame = QString::fromLatin1(row.frame.data(), qsizetype(row.frame.size()));
        EXPECT_EQ(button->parentWidget()->objectName(), row.frame.empty() ? "Form1" : frame);
        EXPECT_DOUBLE_EQ(button->font().pointSizeF(), row.pointSize);
        EXPECT_TRUE(button->font().bold());
        EXPECT_EQ(row.holdIndex != 0, !button->icon().isNull());
    }
    EXPECT_EQ(h.button("Command30")->accessibleName(), "ZOOM up");
    EXPECT_EQ(h.button("Command19")->toolTip(), "LENS SHIFT right");
}

TEST(PanelLayout, AddressOptionsAtTheirPlaces) {
    Harness h;
    h.started();
    for (const AddressRow& row : PanelLayout::addresses()) {
        auto* option = h.child<QRadioButton>(std::string(row.name).c_str());
        ASSERT_NE(option, nullptr);
        EXPECT_EQ(option->geometry(), QRect(px(row.left), px(row.top), px(row.width), px(255)));
        EXPECT_EQ(option->text().toStdString(), row.caption);
        EXPECT_EQ(option->parentWidget()->objectName(), "Frame8");
    }
}

TEST(PanelLayout, CompactHeightShowsDownToEndButNothingOfTheTrafficFrame) {
    Harness h;
    Form1& form = h.started();
    const int client = form.height();
    QPushButton* end = h.button("Command16");
    EXPECT_LE(end->geometry().bottom(), client);
    EXPECT_GE(h.child<QFrame>("Frame9")->geometry().top(), client);
    QTest::keyClick(form.windowHandle(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(form.height(), px(7620));
}

struct ClickRow {
    const char* button;
    const char* bytes;
};

void PrintTo(const ClickRow& row, std::ostream* os) { *os << row.button; }

class ClickButtons : public ::testing::TestWithParam<ClickRow> {};

TEST_P(ClickButtons, PutExactlyTheirBytesOnTheWire) {
    Harness h;
    Form1& form = h.started();
    QPushButton* button = h.button(GetParam().button);
    button->click();
    button->click();
    h.child<QRadioButton>("Option5")->click();
    button->click();
    ASSERT_EQ(h.serial.writes.size(), 3u);
    const std::string plain = std::string(GetParam().bytes) + "\r";
    EXPECT_EQ(h.serial.writes[0], plain);
    EXPECT_EQ(h.serial.writes[1], plain);
    EXPECT_EQ(h.serial.writes[2], "A003" + plain);
    EXPECT_EQ(form.link().commandText, "A003" + plain);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClickButtons,
    ::testing::Values(
        ClickRow{"Command17", "C00"}, ClickRow{"Command18", "C01"}, ClickRow{"Command27", "C05"},
        ClickRow{"Command28", "C06"}, ClickRow{"Command53", "C07"}, ClickRow{"Command41", "C08"},
        ClickRow{"Command31", "C0F"}, ClickRow{"Command32", "C10"}, ClickRow{"Command21", "C0D"},
        ClickRow{"Command22", "C0E"}, ClickRow{"Command25", "C43"}, ClickRow{"Command26", "C44"},
        ClickRow{"Command9", "CF LAMPMODE FULL"}, ClickRow{"Command68", "CF LAMPMODE LAMP1"},
        ClickRow{"Command34", "CF LAMPMODE LAMP2"}, ClickRow{"Command23", "C1C"},
        ClickRow{"Command24", "C1D"}, ClickRow{"Command6", "C3F"}, ClickRow{"Command3", "C1E"},
        ClickRow{"Command73", "C27"}, ClickRow{"Command13", "C89"}, ClickRow{"Command14", "C8A"},
        ClickRow{"Command60", "CF KEYDIS NONE"}, ClickRow{"Command61", "CF KEYDIS RC"},
        ClickRow{"Command62", "CF KEYDIS KEY"}, ClickRow{"Command44", "CR0"},
        ClickRow{"Command45", "CR1"}, ClickRow{"Command54", "CR6"}, ClickRow{"Command47", "CR4"},
        ClickRow{"Command46", "CR3"}, ClickRow{"Command76", "CR7"}),
    [](const auto& info) { return std::string(info.param.button); });

TEST(UnitAddress, EveryOptionPrefixesTheNextSend) {
    Harness h;
    h.started();
    const std::pair<const char*, const char*> rows[] = {{"Option2", "AFFF"}, {"Option3", "A001"},
                                                        {"Option4", "A002"}, {"Option5", "A003"},
                                                        {"Option6", "A004"}, {"Option1", ""}};
    for (const auto& [option, address] : rows) {
        h.child<QRadioButton>(option)->click();
        h.button("Command44")->click();
        EXPECT_EQ(h.serial.writes.back(), std::string(address) + "CR0\r") << option;
    }
}

struct HoldRow {
    const char* button;
    const char* command;
};

void PrintTo(const HoldRow& row, std::ostream* os) { *os << row.button; }

class HoldButtons : public ::testing::TestWithParam<HoldRow> {};

TEST_P(HoldButtons, RepeatEvery100MsUntilTheRelease) {
    Harness h;
    Form1& form = h.started();
    h.child<QRadioButton>("Option3")->click();
    QPushButton* button = h.button(GetParam().button);
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_EQ(form.holdBusy(), 1);
    EXPECT_EQ(form.link().timer2().interval(), 150);
    EXPECT_EQ(form.link().timer4().interval(), 200);
    h.clock.advance(350);
    QTest::mouseRelease(button, Qt::LeftButton);
    const std::string expected = std::string("A001") + GetParam().command + "\r";
    ASSERT_EQ(h.serial.writes.size(), 4u); // at 0, 100, 200 and 300 ms
    for (const std::string& write : h.serial.writes)
        EXPECT_EQ(write, expected);
    EXPECT_EQ(form.holdBusy(), 0);
    EXPECT_EQ(form.holdIndex(), 0);
    EXPECT_FALSE(form.timer1().isEnabled());
    EXPECT_EQ(h.label("Label11"), "");
    EXPECT_EQ(h.label("Label12"), "");
    EXPECT_EQ(form.link().receiveBuffer(), "");
    h.clock.advance(1000);
    EXPECT_EQ(h.serial.writes.size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Arrows, HoldButtons,
                         ::testing::Values(HoldRow{"Command30", "C47"}, HoldRow{"Command42", "C46"},
                                           HoldRow{"Command5", "C3C"}, HoldRow{"Command7", "C3D"},
                                           HoldRow{"Command38", "C3B"}, HoldRow{"Command8", "C3A"},
                                           HoldRow{"Command1", "C4B"}, HoldRow{"Command2", "C4A"},
                                           HoldRow{"Command48", "C30"}, HoldRow{"Command49", "C31"},
                                           HoldRow{"Command10", "C8E"}, HoldRow{"Command35", "C8F"},
                                           HoldRow{"Command4", "C91"}, HoldRow{"Command11", "C90"},
                                           HoldRow{"Command12", "C5D"}, HoldRow{"Command20", "C5E"},
                                           HoldRow{"Command15", "C5F"},
                                           HoldRow{"Command19", "C60"}),
                         [](const auto& info) { return std::string(info.param.button); });

TEST(Hold, ShortClickSendsOnceAndReleasePeriodsFollow) {
    Harness h;
    Form1& form = h.started();
    QPushButton* zoomUp = h.button("Command30");
    QTest::mousePress(zoomUp, Qt::LeftButton);
    h.clock.advance(50);
    QTest::mouseRelease(zoomUp, Qt::LeftButton);
    EXPECT_EQ(h.serial.writes, std::vector<std::string>{"C47\r"});
    EXPECT_EQ(form.link().timer2().interval(), 500);
    EXPECT_FALSE(form.link().timer2().isEnabled());
    EXPECT_EQ(form.link().timer4().interval(), 1000);
    EXPECT_TRUE(form.link().timer4().isEnabled());
    // After a hold a single press gets the after-hold periods: the mark from 500 to 1000 ms.
    h.clock.advance(2000);
    h.button("Command44")->click();
    h.clock.advance(499);
    EXPECT_EQ(h.label("Label12"), "");
    h.clock.advance(1);
    EXPECT_EQ(h.label("Label12"), " X X X X ");
    h.clock.advance(500);
    EXPECT_EQ(h.label("Label12"), "");
}

TEST(Hold, SecondPressIsIgnoredAndEitherReleaseEnds) {
    Harness h;
    Form1& form = h.started();
    QPushButton* up = h.button("Command12");
    QTest::mousePress(up, Qt::LeftButton);
    QTest::mousePress(up, Qt::RightButton);
    QTest::mousePress(h.button("Command30"), Qt::LeftButton);
    EXPECT_EQ(form.holdIndex(), 15);
    EXPECT_EQ(h.serial.writes.size(), 1u);
    h.clock.advance(100);
    EXPECT_EQ(h.serial.writes.back(), "C5D\r");
    QTest::mouseRelease(up, Qt::RightButton);
    EXPECT_EQ(form.holdBusy(), 0);
    h.clock.advance(500);
    EXPECT_EQ(h.serial.writes.size(), 2u);
}

TEST(Hold, LostReleaseEndsTheHold) {
    Harness h;
    Form1& form = h.started();
    QPushButton* up = h.button("Command30");
    QTest::mousePress(up, Qt::LeftButton);
    QEvent ungrab(QEvent::UngrabMouse);
    QCoreApplication::sendEvent(up, &ungrab);
    EXPECT_EQ(form.holdBusy(), 0);

    QTest::mousePress(up, Qt::LeftButton);
    EXPECT_EQ(form.holdBusy(), 1);
    QEvent deactivate(QEvent::ActivationChange);
    QCoreApplication::sendEvent(&form, &deactivate);
    EXPECT_EQ(form.holdBusy(), 0);

    QTest::mousePress(up, Qt::LeftButton);
    form.hide();
    EXPECT_EQ(form.holdBusy(), 0);
    h.clock.advance(1000);
    EXPECT_EQ(h.serial.writes.size(), 3u);
}

TEST(Hold, UnpluggedAdapterEndsTheHold) {
    Harness h;
    Form1& form = h.started();
    QTest::mousePress(h.button("Command19"), Qt::LeftButton);
    h.clock.advance(250);
    h.serial.unplug();
    EXPECT_EQ(form.holdBusy(), 0);
    EXPECT_FALSE(form.timer1().isEnabled());
    h.clock.advance(1000);
    EXPECT_EQ(h.serial.writes.size(), 3u);
    EXPECT_EQ(h.serial.closes, 1);
}

TEST(Hold, SpaceOnArrowSendsNothingButClicksOtherButtons) {
    Harness h;
    h.started();
    QTest::keyClick(h.button("Command30"), Qt::Key_Space);
    EXPECT_TRUE(h.serial.writes.empty());
    QTest::keyClick(h.button("Command17"), Qt::Key_Space);
    EXPECT_EQ(h.serial.writes, std::vector<std::string>{"C00\r"});
}

TEST(CtrlH, OnlyCtrlAloneWithHSwitchesTheHeight) {
    Harness h;
    Form1& form = h.started();
    QWindow* window = form.windowHandle();
    QTest::keyClick(window, Qt::Key_H, Qt::ShiftModifier | Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_H, Qt::AltModifier | Qt::ControlModifier);
    QTest::keyClick(window, Qt::Key_H);
    QTest::keyClick(window, Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(form.outerHeightTwips(), 5100);
    const QPoint topLeft = form.pos();
    QTest::keyClick(window, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(form.outerHeightTwips(), 8100);
    EXPECT_EQ(form.pos(), topLeft);
    QTest::keyClick(window, Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(form.outerHeightTwips(), 5100);
}

TEST(CtrlH, ThresholdAt7000Twips) {
    Harness h;
    Form1& form = h.started();
    form.setOuterHeightTwips(7005);
    form.Form_KeyDown(72, 2);
    EXPECT_EQ(form.outerHeightTwips(), 5100);
    form.setOuterHeightTwips(6990);
    form.Form_KeyDown(72, 2 | 8); // higher bits are ignored
    EXPECT_EQ(form.outerHeightTwips(), 8100);
}

TEST(CtrlH, DoesNotInterruptAHold) {
    Harness h;
    Form1& form = h.started();
    QTest::mousePress(h.button("Command30"), Qt::LeftButton);
    QTest::keyClick(form.windowHandle(), Qt::Key_H, Qt::ControlModifier);
    EXPECT_EQ(form.holdBusy(), 1);
    h.clock.advance(200);
    EXPECT_EQ(h.serial.writes.size(), 3u);
}

} // namespace
} // namespace trv

namespace trv {
namespace {

TEST(PanelLayout, DisplaysHaveBlackBordersWhateverTheirTextColour) {
    testing::Harness h;
    h.started().setOuterHeightTwips(8100);
    for (const char* name : {"Label11", "Label12", "Label25"}) {
        SCOPED_TRACE(name);
        auto* display = h.child<QLabel>(name);
        const QImage image = display->grab().toImage();
        EXPECT_EQ(QColor(image.pixel(0, image.height() / 2)), QColor(Qt::black));
        EXPECT_EQ(QColor(image.pixel(image.width() / 2, 0)), QColor(Qt::black));
    }
    auto* status = h.child<QLabel>("Label25");
    status->setText(QStringLiteral(" Power ON"));
    const QImage image = status->grab().toImage();
    bool red = false;
    for (int x = 0; x < image.width() && !red; ++x)
        red = QColor(image.pixel(x, image.height() / 2)) == QColor(255, 0, 0);
    EXPECT_TRUE(red);
}

} // namespace
} // namespace trv
