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

INSTANTIATE_TEST_SUITE_P(CaptionFit, WindowTitles,
                         ::testing::Values(TitleRow{"Default", QString(), ""},
                                           TitleRow{"Profile", QStringLiteral("Room 12"),
                                                    " \u2014 Room 12"}),
                         [](const auto& info) { return std::string(info.param.title); });

} // namespace
} // namespace trv
