#include "windows/panel/HoldButton.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace trv {

void HoldButton::mousePressEvent(QMouseEvent* event) {
    setDown(true);
    event->accept();
    emit mouseDown();
}

void HoldButton::mouseReleaseEvent(QMouseEvent* event) {
    // Any mouse button ends the hold; a click signal would only repeat what the press did.
    if (event->buttons() == Qt::NoButton)
        setDown(false);
    event->accept();
    emit mouseUp();
}

void HoldButton::keyPressEvent(QKeyEvent* event) {
    // The space bar (or select key) on a focused arrow button sends nothing.
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) {
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void HoldButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Select) {
        event->accept();
        return;
    }
    QPushButton::keyReleaseEvent(event);
}

bool HoldButton::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::UngrabMouse:
    case QEvent::Hide:
        if (isDown()) {
            setDown(false);
            emit mouseUp();
        }
        break;
    case QEvent::EnabledChange:
        if (!isEnabled() && isDown()) {
            setDown(false);
            emit mouseUp();
        }
        break;
    default:
        break;
    }
    return QPushButton::event(event);
}

} // namespace trv
