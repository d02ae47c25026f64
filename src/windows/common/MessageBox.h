#pragma once

#include <QString>

class QWidget;

namespace trv {

// Modal boxes: warnings with one OK button, and questions with two answers.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    // Waits until the box is closed; `detail` may be empty.
    virtual void warning(QWidget* parent, const QString& text, const QString& title,
                         const QString& detail) = 0;
    // Waits for an answer: true for `yes`, false for `no` or a box closed without one.
    virtual bool question(QWidget* parent, const QString& text, const QString& title,
                          const QString& yes, const QString& no) = 0;
};

} // namespace trv
