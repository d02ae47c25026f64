#include "QtMessageBox.h"

#include <QMessageBox>

namespace trv {

void QtMessageBox::warning(QWidget* parent, const QString& text, const QString& title,
                           const QString& detail) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    if (!detail.isEmpty())
        box.setDetailedText(detail);
    box.exec();
}

} // namespace trv
