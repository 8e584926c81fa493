#include "widgets/mdl_move_noborder_wnd.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace widgets::MdlMoveNoborderWnd {

namespace {

std::function<void(QWidget*)>& observer() {
    static std::function<void(QWidget*)> s_observer;
    return s_observer;
}

// The move by hand: watches every pointer event of the application until the left button is
// released, keeping the window at the offset from the pointer it had at the start. It ends
// itself; one is alive at a time.
class FollowPointer : public QObject {
public:
    FollowPointer(QWidget* window, QPoint pointer)
        : m_window(window), m_offset(pointer - window->pos()) {
        qApp->installEventFilter(this);
    }

    static void start(QWidget* window, QPoint pointer) {
        static QPointer<FollowPointer> s_current;
        if (s_current) return;
        s_current = new FollowPointer(window, pointer);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::MouseMove && event->type() != QEvent::MouseButtonRelease)
            return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        const bool released = event->type() == QEvent::MouseButtonRelease
                                  ? mouse->button() == Qt::LeftButton
                                  : !mouse->buttons().testFlag(Qt::LeftButton);
        if (!m_window || released) {
            deleteLater();
            qApp->removeEventFilter(this);
            return false;
        }
        m_window->move(mouse->globalPosition().toPoint() - m_offset);
        return false;
    }

private:
    QPointer<QWidget> m_window;
    QPoint m_offset;
};

}  // namespace

void MoveNoborderWnd(QWidget* window, QPoint pointer) {
    if (window == nullptr) return;
    if (observer()) {
        observer()(window);
        return;
    }
    QWidget* topLevel = window->window();
    QWindow* handle = topLevel->windowHandle();
    if (handle && handle->startSystemMove()) return;
    FollowPointer::start(topLevel, pointer);
}

void setMoveObserver(std::function<void(QWidget*)> observer_) {
    observer() = std::move(observer_);
}

}  // namespace widgets::MdlMoveNoborderWnd
