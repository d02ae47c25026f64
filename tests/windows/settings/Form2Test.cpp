#include "windows/settings/Form2.h"
#include "link/transport/DevicePort.h"
#include "support/Harness.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace trv {
namespace {

using testing::Harness;

// A settings dialog on its own, as the main window's COM button or start-up opens it.
struct DialogTest : ::testing::Test {
    testing::FakeSerialPort serial;
    testing::FakeSettingsStore store;
    testing::FakeMessageBox messages;
    PortValues values;
    QWidget main;
    Form2* dialog = nullptr;

    void open() { dialog = new Form2(values, serial, store, messages, &main); }
    template <typename T> T* child(const char* name) {
        return dialog->findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* box() { return child<QLineEdit>("Text1"); }
    void type(const char* text) { QTest::keyClicks(box(), QString::fromLatin1(text)); }
};

TEST_F(DialogTest, OpensWith19200NoPortAndTheZeroSelected) {
    open();
    EXPECT_EQ(dialog->windowTitle(), "  COM PORT");
    EXPECT_TRUE(child<QRadioButton>("Option2")->isChecked());
    EXPECT_EQ(values.BaudCode, 192);
    EXPECT_EQ(serial.settings_, lineSettingsFor(192));
    for (const char* name : {"Option3", "Option4", "Option5", "Option6", "Option7"})
        EXPECT_FALSE(child<QRadioButton>(name)->isChecked()) << name;
    EXPECT_EQ(box()->text(), "0");
    EXPECT_EQ(box()->selectedText(), "0");
    dialog->Command1_Click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Retry Comport");
    EXPECT_EQ(messages.shown[0].title, "Error");
    EXPECT_EQ(serial.opens, 0);
}

TEST_F(DialogTest, OkOpensStoresAndShowsTheMainWindow) {
    open();
    child<QRadioButton>("Option5")->click();
    child<QRadioButton>("Option1")->click();
    child<QPushButton>("Command1")->click();
    EXPECT_EQ(serial.portNo_, 3);
    EXPECT_EQ(serial.settings_, lineSettingsFor(96));
    EXPECT_TRUE(serial.isOpen());
    EXPECT_EQ(store.values["ComPort"], "3");
    EXPECT_EQ(store.values["BaudRate"], "96");
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DialogTest, PortBoxIsReadDigitByDigit) {
    open();
    child<QRadioButton>("Option4")->click();
    type("7");
    EXPECT_EQ(values.PortNo, 7);
    EXPECT_TRUE(child<QRadioButton>("Option4")->isChecked());

    box()->selectAll();
    type("1");
    EXPECT_EQ(values.PortNo, 1);
    type("2");
    EXPECT_EQ(values.PortNo, 12);
    box()->selectAll();
    type("16");
    EXPECT_EQ(values.PortNo, 1);
    EXPECT_EQ(box()->text(), "0");
    EXPECT_EQ(box()->cursorPosition(), 0);

    box()->setText("x");
    EXPECT_EQ(box()->text(), "0");
    box()->setText("");
    EXPECT_EQ(box()->text(), "0");
    box()->setText("-3");
    EXPECT_EQ(box()->text(), "0");
    box()->setText(QString(300, QLatin1Char('9')));
    EXPECT_EQ(box()->text(), "0");
    box()->setText(QStringLiteral(" 14 "));
    EXPECT_EQ(values.PortNo, 14);
    box()->setText(QStringLiteral("07"));
    EXPECT_EQ(values.PortNo, 7);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DialogTest, FailedOpenWarnsWithReasonAndStoresNothing) {
    store.values = {{"ComPort", "2"}, {"BaudRate", "192"}};
    serial.failOpen = true;
    serial.failReason = QStringLiteral("Permission denied: /dev/ttyS2");
    open();
    child<QRadioButton>("Option7")->click();
    dialog->Command1_Click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].detail, serial.failReason);
    EXPECT_EQ(store.values["ComPort"], "2");
    EXPECT_EQ(store.writeCount, 0);
    EXPECT_EQ(serial.portNo_, 5);
}

TEST_F(DialogTest, CancelAfterComRestoresTheSavedPortWithoutStoring) {
    values = {4, 192, 4, 192};
    open();
    child<QRadioButton>("Option3")->click();
    child<QRadioButton>("Option1")->click();
    dialog->Command2_Click();
    EXPECT_EQ(values.PortNo, 4);
    EXPECT_EQ(values.BaudCode, 192);
    EXPECT_EQ(serial.portNo_, 4);
    EXPECT_EQ(serial.settings_, lineSettingsFor(192));
    EXPECT_TRUE(serial.isOpen());
    EXPECT_EQ(store.writeCount, 0);
}

TEST_F(DialogTest, CancelAtStartUpWarnsAndStays) {
    open();
    child<QRadioButton>("Option5")->click();
    dialog->Command2_Click();
    EXPECT_EQ(values.PortNo, 0);
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(serial.opens, 0);
    EXPECT_FALSE(main.isVisible());
}

TEST_F(DialogTest, ClickingTheShownOptionAgainChoosesItAfterCancel) {
    open();
    child<QRadioButton>("Option5")->click();
    dialog->Command2_Click(); // at start-up: PortNo back to 0, COM3 still shown
    ASSERT_EQ(values.PortNo, 0);
    child<QRadioButton>("Option5")->click();
    EXPECT_EQ(values.PortNo, 3);
}

TEST_F(DialogTest, CancelWithASavedPortThatNoLongerOpensWarns) {
    values = {4, 96, 4, 96};
    serial.failOpen = true;
    open();
    dialog->Command2_Click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(child<QRadioButton>("Option1")->isChecked());
    EXPECT_FALSE(serial.isOpen());
}

TEST_F(DialogTest, FailedStoreIsReportedButThePortStaysOpen) {
    store.failWrites = true;
    store.problem = QStringLiteral("ZEKO.conf is not a regular file; it is left as it is.");
    open();
    child<QRadioButton>("Option3")->click();
    dialog->Command1_Click();
    EXPECT_TRUE(serial.isOpen());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].text, "Retry Comport");
    EXPECT_EQ(messages.shown[0].detail, store.problem);
}

TEST(Form2OnARealPort, MissingDeviceGivesRetryWithTheReasonAndStoresNothing) {
    qputenv("ZEKO_COM14", "/dev/trv-no-such-adapter");
    DevicePort serial;
    testing::FakeSettingsStore store;
    testing::FakeMessageBox messages;
    PortValues values;
    QWidget main;
    auto* dialog = new Form2(values, serial, store, messages, &main);
    dialog->findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("14"));
    dialog->Command1_Click();
    qunsetenv("ZEKO_COM14");
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "Retry Comport");
#ifdef Q_OS_WIN
    EXPECT_EQ(messages.shown[0].detail,
              "COM14 (/dev/trv-no-such-adapter): no such port; is the adapter plugged in?");
#else
    EXPECT_EQ(messages.shown[0].detail, "COM14 (/dev/trv-no-such-adapter): no such device");
#endif
    EXPECT_EQ(store.writeCount, 0);
    EXPECT_FALSE(serial.isOpen());
}

TEST(Form2FromMainWindow, SecondComAfterChoosingCom5MakesCancelReopenPort5) {
    Harness h;
    Form1& form = h.started();
    h.button("Command33")->click();
    Form2* dialog = form.settingsDialog();
    dialog->findChild<QRadioButton*>(QStringLiteral("Option7"))->click();
    h.button("Command33")->click();
    dialog->Command2_Click();
    EXPECT_EQ(h.serial.portNo_, 5);
    EXPECT_TRUE(h.serial.isOpen());
    EXPECT_EQ(h.store.values["ComPort"], "1");
}

TEST(Form2FromMainWindow, StoredPortAboveFiveShowsNoOptionAndOkRetriesIt) {
    Harness h;
    h.store.values["ComPort"] = "9";
    h.serial.failOpen = true;
    Form1& form = h.started();
    Form2* dialog = form.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    for (const char* name : {"Option3", "Option4", "Option5", "Option6", "Option7"})
        EXPECT_FALSE(dialog->findChild<QRadioButton*>(QString::fromLatin1(name))->isChecked());
    h.serial.failOpen = false;
    dialog->Command1_Click();
    EXPECT_EQ(h.serial.portNo_, 9);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(h.store.values["ComPort"], "9");
    // Opened from the dialog, the design periods stay: 10000 and 10500 ms.
    EXPECT_EQ(form.link().timer2().interval(), 10000);
    EXPECT_EQ(form.link().timer4().interval(), 10500);
}

} // namespace
} // namespace trv
