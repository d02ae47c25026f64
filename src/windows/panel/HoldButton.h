#pragma once

#include <QPushButton>

namespace trv {

// An arrow button that acts on mouse press and release only. It also reports a release when
// the release can no longer arrive (mouse grab taken away, button hidden or disabled).
class HoldButton final : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

signals:
    void mouseDown();
    void mouseUp();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;
};

} // namespace trv
