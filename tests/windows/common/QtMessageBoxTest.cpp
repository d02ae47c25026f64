#include "windows/common/QtMessageBox.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextLayout>
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
        // Without the word joiners that keep a path on one line.
        informative = box->informativeText().remove(QChar(0x2060));
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

struct Reason {
    QStringList lines; // as the box's reason label lays them out
    int lineSpacing = 0;
    bool shown = false;
};

// The reason's label as the box lays it out, read while the box is open.
Reason layOutReason(const QString& detail) {
    Reason reason;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        auto* label =
            box ? box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")) : nullptr;
        if (!label) {
            dismissModal();
            return;
        }
        reason.shown = true;
        const QString text = label->text();
        QTextLayout layout(text, label->font());
        QTextOption option;
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(label->contentsRect().width());
            reason.lines
                << text.mid(line.textStart(), line.textLength()).remove(QChar(0x2060)).trimmed();
        }
        layout.endLayout();
        box->accept();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dismissModal);
    watchdog.start(5000);
    QtMessageBox().warning(nullptr, QStringLiteral("Retry Comport"), QStringLiteral("Error"),
                           detail);
    return reason;
}

// A short reason keeps its line; a long one wraps at its blanks, never inside a device path.
TEST(QtMessageBox, ReasonKeepsDevicePathsWhole) {
    const Reason shortOne = layOutReason(QStringLiteral("COM9 (/dev/ttyS8): no such device"));
    ASSERT_TRUE(shortOne.shown);
    EXPECT_EQ(shortOne.lines.join(u'|').toStdString(), "COM9 (/dev/ttyS8): no such device");
    const QString path = QStringLiteral("/dev/serial/by-id/usb-Serial_Adapter-if00-port0");
    const Reason longOne =
        layOutReason(QStringLiteral("COM3 (%1): permission denied; you may need to be in the "
                                    "\"dialout\" group, then log in again and try once more")
                         .arg(path));
    ASSERT_TRUE(longOne.shown);
    EXPECT_GT(longOne.lines.size(), 1) << longOne.lines.join(u'|').toStdString();
    EXPECT_TRUE(longOne.lines.join(u'|').contains(path)) << longOne.lines.join(u'|').toStdString();
}

} // namespace
} // namespace trv
