#include "widgets/mdl_move_noborder_wnd.h"

#include <QWidget>
#include <QWindow>

namespace widgets::MdlMoveNoborderWnd {

namespace {
std::function<void(QWidget*)>& observer() {
    static std::function<void(QWidget*)> s_observer;
    return s_observer;
}
}  // namespace

void MoveNoborderWnd(QWidget* window) {
    if (window == nullptr) return;
    if (observer()) {
        observer()(window);
        return;
    }
    if (QWindow* handle = window->window()->windowHandle()) handle->startSystemMove();
}

void setMoveObserver(std::function<void(QWidget*)> observer_) {
    observer() = std::move(observer_);
}

}  // namespace widgets::MdlMoveNoborderWnd
