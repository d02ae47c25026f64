#include "windows/common/QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace trv {
namespace {

// Ends whatever modal window is open, so that a test that fails ends instead of waiting on it.
void dismissModal() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->done(QDialog::Rejected);
    else if (modal)
        modal->close();
}

TEST(QtMessageBox, WarningHasOneOkButtonAndTheReasonUnderTheText) {
    bool seen = false;
    QString text, informative, detailed, title;
    int buttons = -1;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            dismissModal();
            return;
        }
        seen = true;
        text = box->text();
        informative = box->informativeText();
        detailed = box->detailedText();
        title = box->windowTitle();
        icon = box->icon();
        buttons = int(box->findChildren<QPushButton*>().size());
        box->accept();
    });
    // For a box that opens later than the look above.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dismissModal);
    watchdog.start(5000);
    QtMessageBox().warning(nullptr, QStringLiteral("Retry Comport"), QStringLiteral("Error"),
                           QStringLiteral("Device busy or locked by another program: /dev/x"));
    ASSERT_TRUE(seen) << "no message box was open once warning() had started";
    EXPECT_EQ(text, "Retry Comport");
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(informative, "Device busy or locked by another program: /dev/x");
    EXPECT_EQ(detailed, "");
    EXPECT_EQ(buttons, 1);
}

} // namespace
} // namespace trv
