// Every caption of every window, measured with the font it is drawn in, fits its control.
#include "support/Harness.h"
#include "windows/console/Form3.h"
#include "windows/settings/Form2.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <gtest/gtest.h>

namespace trv {
namespace {

using testing::Harness;

// The room a control gives its caption, or an empty rectangle for controls without one.
QRect captionRoom(QWidget* widget, QString& caption) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        caption = label->text();
        return label->contentsRect();
    }
    auto* button = qobject_cast<QAbstractButton*>(widget);
    if (!button)
        return {};
    caption = button->text();
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = caption;
    const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
    return button->style()->subElementRect(
        radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option, button);
}

void expectCaptionsFit(QWidget* window) {
    int measured = 0;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        QString caption;
        const QRect room = captionRoom(widget, caption);
        if (caption.isEmpty())
            continue;
        ++measured;
        const QFontMetrics metrics(widget->font());
        SCOPED_TRACE(widget->objectName().toStdString() + " \"" + caption.toStdString() + "\" in " +
                     QFontInfo(widget->font()).family().toStdString());
        EXPECT_LE(metrics.horizontalAdvance(caption), room.width());
        EXPECT_LE(metrics.height(), room.height());
    }
    EXPECT_GT(measured, 0);
}

TEST(CaptionFit, MainWindowAtFullHeight) {
    Harness h;
    Form1& form = h.started();
    form.setOuterHeightTwips(8100);
    expectCaptionsFit(&form);
}

TEST(CaptionFit, SettingsDialog) {
    Harness h;
    Form1& form = h.started();
    h.button("Command33")->click();
    ASSERT_NE(form.settingsDialog(), nullptr);
    expectCaptionsFit(form.settingsDialog());
}

TEST(CaptionFit, Console) {
    Harness h;
    Form1& form = h.started();
    h.button("Command74")->click();
    ASSERT_NE(form.console(), nullptr);
    expectCaptionsFit(form.console());
}

} // namespace
} // namespace trv
