#include "windows/common/QtMessageBox.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>

namespace trv {
namespace {

constexpr QChar kWordJoiner(0x2060);

// A word joiner after each "/" and "-" inside a word: a device path or an address is never
// broken across lines at one of them.
QString unbreakable(const QString& text) {
    QString out;
    out.reserve(text.size() + text.size() / 4);
    for (qsizetype i = 0; i < text.size(); ++i) {
        out += text[i];
        const bool inWord = i + 1 < text.size() && !text[i + 1].isSpace();
        if (inWord && (text[i] == u'/' || text[i] == u'-'))
            out += kWordJoiner;
    }
    return out;
}

// A wrapped label narrows a text of one line to a fifth of its room or so, which broke
// "No such device: /dev/ttyS8" after its "/". A reason of a line up to 80 average characters
// keeps its line; longer ones wrap at their blanks.
void keepLinesWhole(QMessageBox& box) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (!label)
        return;
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : label->text().split(u'\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    label->setMinimumWidth(std::min(widest + 1, metrics.averageCharWidth() * 80));
}

} // namespace

void QtMessageBox::warning(QWidget* parent, const QString& text, const QString& title,
                           const QString& detail) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // The reason goes under the text, not behind a second "Show Details..." button.
    if (!detail.isEmpty()) {
        box.setInformativeText(unbreakable(detail));
        keepLinesWhole(box);
    }
    box.exec();
}

bool QtMessageBox::question(QWidget* parent, const QString& text, const QString& title,
                            const QString& yes, const QString& no) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);
    QPushButton* yesButton = box.addButton(yes, QMessageBox::AcceptRole);
    box.setEscapeButton(box.addButton(no, QMessageBox::RejectRole));
    box.setDefaultButton(yesButton);
    box.exec();
    return box.clickedButton() == yesButton;
}

} // namespace trv
