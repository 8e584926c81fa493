// A label or picture that reports clicks, double-clicks and pointer moves as signals, standing
// in for the pictures and the button labels of the program's frameless windows.
#pragma once

#include <QLabel>

namespace widgets {

class ActiveLabel : public QLabel {
    Q_OBJECT
public:
    explicit ActiveLabel(QWidget* parent = nullptr);

signals:
    // A left press and release on the label.
    void clicked();
    void doubleClicked();
    // Every pointer move over the label, with the buttons held and the pointer's place on the
    // screen; the move never reaches the window under the label.
    void pointerMoved(Qt::MouseButtons buttons, QPoint globalPosition);
    // Enter, Return or Space while the label has the keyboard focus (it takes the focus only
    // when given a focus policy).
    void activated();
    // The label received the keyboard focus.
    void focusReceived();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    bool m_pressed = false;
};

}  // namespace widgets
