#pragma once

#include <QString>

class QWidget;

namespace trv {

// Modal warning boxes with one OK button.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    // Waits until the box is closed; `detail` may be empty.
    virtual void warning(QWidget* parent, const QString& text, const QString& title,
                         const QString& detail) = 0;
};

} // namespace trv
