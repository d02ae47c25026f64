#include "windows/common/QtMessageBox.h"

#include <QMessageBox>

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

} // namespace trv
