#include "common/QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace trv {
namespace {

TEST(QtMessageBox, WarningHasOneOkButtonAndTheReasonUnderTheText) {
    QString text, informative, detailed, title;
    int buttons = -1;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        informative = box->informativeText();
        detailed = box->detailedText();
        title = box->windowTitle();
        icon = box->icon();
        buttons = int(box->findChildren<QPushButton*>().size());
        box->accept();
    });
    QtMessageBox().warning(nullptr, QStringLiteral("Retry Comport"), QStringLiteral("Error"),
                           QStringLiteral("Device busy or locked by another program: /dev/x"));
    EXPECT_EQ(text, "Retry Comport");
    EXPECT_EQ(title, "Error");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(informative, "Device busy or locked by another program: /dev/x");
    EXPECT_EQ(detailed, "");
    EXPECT_EQ(buttons, 1);
}

} // namespace
} // namespace trv
