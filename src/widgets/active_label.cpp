#include "widgets/active_label.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace widgets {

ActiveLabel::ActiveLabel(QWidget* parent) : QLabel(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoMousePropagation);
}

void ActiveLabel::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        event->accept();
        emit activated();
        return;
    }
    QLabel::keyPressEvent(event);
}

void ActiveLabel::focusInEvent(QFocusEvent* event) {
    QLabel::focusInEvent(event);
    emit focusReceived();
}

void ActiveLabel::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void ActiveLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click) emit clicked();
}

void ActiveLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) emit doubleClicked();
}

void ActiveLabel::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    emit pointerMoved(event->buttons(), event->globalPosition().toPoint());
}

}  // namespace widgets
