#include "link/EchoRule.h"
#include "link/panel/PanelLayout.h"
#include "support/Harness.h"
#include "windows/settings/Form2.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace trv {
namespace {

using testing::Harness;

TEST(Form1Load, EmptyStoreShowsOnlyTheSettingsDialog) {
    Harness h;
    h.store.values.clear();
    Form1& form = h.started();
    EXPECT_EQ(h.values.PortNo, 0);
    EXPECT_EQ(h.serial.opens, 0);
    ASSERT_NE(form.settingsDialog(), nullptr);
    EXPECT_EQ(form.settingsDialog()->windowModality(), Qt::ApplicationModal);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.link().timer2().interval(), 10000);
    EXPECT_EQ(form.link().timer4().interval(), 10500);
    form.settingsDialog()->close(); // close box: the main window appears, port closed
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(h.child<QRadioButton>("Option1")->isChecked());
    EXPECT_EQ(h.store.writeCount, 0);
}

TEST(Form1Load, StoredPortBaudAndAddressAreRestored) {
    Harness h;
    h.store.values = {{"ComPort", "3"}, {"BaudRate", "96"}, {"ADRESS", "A002"}};
    Form1& form = h.started();
    EXPECT_EQ(h.serial.portNo_, 3);
    EXPECT_EQ(h.serial.settings_, lineSettingsFor(96));
    EXPECT_TRUE(h.serial.isOpen());
    EXPECT_TRUE(h.child<QRadioButton>("Option4")->isChecked());
    EXPECT_EQ(form.link().UnitAddress, "A002");
    EXPECT_EQ(form.outerHeightTwips(), 5100);
    EXPECT_EQ(form.link().timer2().interval(), 1000);
    EXPECT_EQ(form.link().timer4().interval(), 1200);
    EXPECT_FALSE(form.link().timer2().isEnabled());
    EXPECT_EQ(form.settingsDialog(), nullptr);
    EXPECT_TRUE(form.isVisible());
}

struct StoredRow {
    const char* name;
    const char* port;
    const char* baud;
    const char* address;
    bool opens;
    int baudCode;
    const char* unitAddress;
};

void PrintTo(const StoredRow& row, std::ostream* os) { *os << row.name; }

class StoredValues : public ::testing::TestWithParam<StoredRow> {};

TEST_P(StoredValues, LoadFollowsTheNumberRule) {
    const StoredRow& row = GetParam();
    Harness h;
    h.store.values = {{"ComPort", row.port}, {"BaudRate", row.baud}, {"ADRESS", row.address}};
    Form1& form = h.started();
    EXPECT_EQ(h.serial.isOpen(), row.opens);
    EXPECT_EQ(form.settingsDialog() != nullptr, !row.opens);
    if (row.opens) {
        EXPECT_EQ(h.values.BaudCode, row.baudCode);
    }
    EXPECT_EQ(form.link().UnitAddress, row.unitAddress);
}

INSTANTIATE_TEST_SUITE_P(
    Store, StoredValues,
    ::testing::Values(StoredRow{"Port16", "16", "96", "A001", false, 0, ""},
                      StoredRow{"Port0", "0", "96", "A001", false, 0, ""},
                      StoredRow{"PortNegative", "-2", "96", "A001", false, 0, ""},
                      StoredRow{"PortLetters", "COM3", "96", "A001", false, 0, ""},
                      StoredRow{"PortHuge", "99999999999999999999999999999999", "96", "", false, 0,
                                ""},
                      StoredRow{"PortHalfDown", "2.5", "96", "A003", true, 96, "A003"},
                      StoredRow{"PortHalfUp", "3.5", "96", "AFFF", true, 96, "AFFF"},
                      StoredRow{"Baud192", "1", "192", "", true, 192, ""},
                      StoredRow{"Baud19200", "1", "19200", "", true, 192, ""},
                      StoredRow{"Baud9600", "1", "9600", "", true, 192, ""},
                      StoredRow{"BaudEmpty", "1", "", "", true, 192, ""},
                      StoredRow{"BaudHuge", "1", "352", "", true, 192, ""},
                      StoredRow{"AddressCase", "1", "96", "a001", true, 96, ""},
                      StoredRow{"AddressDefault", "1", "96", "DATAD", true, 96, ""},
                      StoredRow{"AddressJunk", "1", "96", "A001\r", true, 96, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Form1Load, PortThatFailsToOpenLeadsToTheDialogWithoutMessage) {
    Harness h;
    h.serial.failOpen = true;
    Form1& form = h.started();
    EXPECT_NE(form.settingsDialog(), nullptr);
    EXPECT_TRUE(h.messages.shown.empty());
    EXPECT_EQ(form.link().timer2().interval(), 10000);
}

TEST(Form1Close, StoresTheAddressAndClosesThePort) {
    Harness h;
    Form1& form = h.started();
    h.child<QRadioButton>("Option6")->click();
    form.close();
    EXPECT_EQ(h.store.values["ADRESS"], "A004");
    EXPECT_FALSE(h.serial.isOpen());
    EXPECT_EQ(h.serial.closes, 1);
}

TEST(Form1Close, TheAddressSurvivesARestart) {
    Harness h;
    h.started();
    h.child<QRadioButton>("Option6")->click();
    h.form->close();
    Form1& again = h.started(); // a new main window on the same store
    EXPECT_TRUE(h.child<QRadioButton>("Option6")->isChecked());
    again.findChild<QPushButton*>(QStringLiteral("Command45"))->click();
    EXPECT_EQ(h.serial.writes.back(), "A004CR1\r");
}

TEST(Form1Close, SingleStoresTheEmptyTextAndEndClosesEverything) {
    Harness h;
    h.store.values["ADRESS"] = "A001";
    Form1& form = h.started();
    h.child<QRadioButton>("Option1")->click();
    h.button("Command33")->click(); // COM: dialog open, port closed
    ASSERT_NE(form.settingsDialog(), nullptr);
    h.button("Command16")->click(); // END
    EXPECT_EQ(h.store.values["ADRESS"], "");
    EXPECT_EQ(h.serial.closes, 1);
    EXPECT_FALSE(form.isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(form.settingsDialog(), nullptr);
}

TEST(Form1Close, FailedStoreWriteKeepsTheProgramGoing) {
    Harness h;
    Form1& form = h.started();
    h.store.failWrites = true;
    form.close();
    EXPECT_FALSE(h.serial.isOpen());
}

TEST(Form1Com, ClosesThePortOnceAndSavesTheValues) {
    Harness h;
    Form1& form = h.started();
    h.button("Command33")->click();
    EXPECT_FALSE(h.serial.isOpen());
    EXPECT_EQ(h.values.SavedPortNo, 1);
    EXPECT_EQ(h.values.SavedBaudCode, 96);
    Form2* dialog = form.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::NonModal);
    h.values.PortNo = 5; // as the dialog's COM5 would
    h.button("Command33")->click();
    EXPECT_EQ(form.settingsDialog(), dialog);
    EXPECT_EQ(h.values.SavedPortNo, 5);
    EXPECT_EQ(h.serial.closes, 1);
}

TEST(Form1Send, RefusedWriteWithPortClosedChangesNoDisplay) {
    Harness h;
    Form1& form = h.started();
    h.button("Command33")->click();
    h.button("Command44")->click();
    EXPECT_TRUE(h.serial.writes.empty());
    EXPECT_EQ(h.label("Label11"), "");
    EXPECT_FALSE(form.link().timer2().isEnabled());
}

TEST(Form1Send, TrafficLabelsArePlainText) {
    Harness h;
    h.started();
    h.button("Command44")->click();
    h.serial.deliver("<b>x</b>");
    EXPECT_EQ(h.child<QLabel>("Label12")->textFormat(), Qt::PlainText);
    EXPECT_EQ(h.label("Label12"), " < b > x < / b > ");
}

// A display is given what it can show of an echo longer than itself: it draws that exactly as
// it would draw the whole echo, and what keeps coming past its edge leaves its text as it is.
TEST(Form1Send, ALongReplyDrawsAsItsWholeEchoWould) {
    Harness h;
    h.started().setOuterHeightTwips(PanelLayout::kFullHeight);
    h.button("Command44")->click();
    std::string reply;
    for (int i = 0; i < 300; ++i)
        reply += char('!' + i % 90);
    h.serial.deliverPieces(reply, 16);
    auto* rx = h.child<QLabel>("Label12");
    const QString shown = rx->text();
    const QString echo = QString::fromStdString(renderEcho(reply).text);
    ASSERT_TRUE(echo.startsWith(shown));
    const QFontMetricsF metrics(rx->font(), rx);
    EXPECT_GT(metrics.horizontalAdvance(shown), rx->width()); // beyond the edge
    EXPECT_LT(metrics.horizontalAdvance(shown), 2 * rx->width());

    h.serial.deliver("more");
    EXPECT_EQ(rx->text(), shown);

    const QImage drawn = rx->grab().toImage();
    rx->setText(echo + QStringLiteral("m o r e "));
    EXPECT_TRUE(rx->grab().toImage() == drawn) << "the display draws otherwise than the whole echo";
}

} // namespace
} // namespace trv
