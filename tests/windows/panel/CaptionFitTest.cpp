// Every caption of every window, measured with the font it is drawn in, fits its control.
#include "support/Harness.h"
#include "windows/common/Twips.h"
#include "windows/console/Form3.h"
#include "windows/settings/Form2.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
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

struct TitleRow {
    const char* title;
    QString profile;
    const char* tail; // after each window's design caption
};

void PrintTo(const TitleRow& row, std::ostream* os) { *os << row.title; }

class WindowTitles : public ::testing::TestWithParam<TitleRow> {};

TEST_P(WindowTitles, NameTheProfileAfterTheDesignCaption) {
    Harness h;
    Form1& form = h.make();
    if (!GetParam().profile.isNull())
        form.setProfileName(GetParam().profile);
    form.start();
    h.button("Command33")->click();
    h.button("Command74")->click();
    ASSERT_NE(form.settingsDialog(), nullptr);
    ASSERT_NE(form.console(), nullptr);
    const QString tail = QString::fromUtf8(GetParam().tail);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("ZEKO   TRV-M5400  CONTROL  Ver.2.0") + tail);
    EXPECT_EQ(form.settingsDialog()->windowTitle(), QStringLiteral("  COM PORT") + tail);
    EXPECT_EQ(form.console()->windowTitle(), QStringLiteral("Command List") + tail);
}

// The dialog's title bar holds its caption: the design's size without a profile, wider with one
// (a narrow dialog showed "COM P…om 12"), never wider than the screen.
TEST_P(WindowTitles, SettingsDialogIsWideEnoughForItsCaption) {
    Harness h;
    Form1& form = h.make();
    if (!GetParam().profile.isNull())
        form.setProfileName(GetParam().profile);
    form.start();
    h.button("Command33")->click();
    Form2* dialog = form.settingsDialog();
    ASSERT_NE(dialog, nullptr);
    const QSize design(twipsToPixels(3105), twipsToPixels(4005));
    if (GetParam().profile.isNull()) {
        EXPECT_EQ(dialog->size(), design);
        return;
    }
    QFont title = QApplication::font();
    title.setBold(true);
    title.setPointSizeF(std::max(title.pointSizeF(), 11.0));
    const int buttons = 4 * QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const int needed = QFontMetrics(title).horizontalAdvance(dialog->windowTitle()) + buttons;
    const int screen = dialog->screen()->availableGeometry().width();
    EXPECT_GE(dialog->width(), std::min(needed, screen));
    EXPECT_LE(dialog->width(), screen);
    EXPECT_EQ(dialog->height(), design.height());
    expectCaptionsFit(dialog);
}

INSTANTIATE_TEST_SUITE_P(CaptionFit, WindowTitles,
                         ::testing::Values(TitleRow{"Default", QString(), ""},
                                           TitleRow{"Profile", QStringLiteral("Room 12"),
                                                    " \u2014 Room 12"},
                                           TitleRow{"LongestProfile", QString(64, u'W'),
                                                    " \u2014 WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"
                                                    "WWWWWWWWWWWWWWWWWWWWWWWWWW"}),
                         [](const auto& info) { return std::string(info.param.title); });

} // namespace
} // namespace trv
