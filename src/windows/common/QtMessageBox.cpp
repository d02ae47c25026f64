#include "windows/common/QtMessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace trv {

void QtMessageBox::warning(QWidget* parent, const QString& text, const QString& title,
                           const QString& detail) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // The reason goes under the text, not behind a second "Show Details..." button.
    if (!detail.isEmpty())
        box.setInformativeText(detail);
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
