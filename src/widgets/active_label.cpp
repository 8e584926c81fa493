#include "widgets/active_label.h"

#include <QMouseEvent>

namespace widgets {

ActiveLabel::ActiveLabel(QWidget* parent) : QLabel(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoMousePropagation);
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
    emit pointerMoved(event->buttons());
}

}  // namespace widgets
