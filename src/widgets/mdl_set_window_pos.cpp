#include "widgets/mdl_set_window_pos.h"

#include <QWidget>

namespace widgets::MdlSetWindowPos {

void SetWindowTopmost(QWidget* window, bool topmost) {
    if (window == nullptr || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topmost)
        return;
    // Changing a window flag hides a shown window; show it again where it was.
    const bool wasVisible = window->isVisible();
    const QRect geometry = window->geometry();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    if (wasVisible) {
        window->setGeometry(geometry);
        window->show();
    }
}

}  // namespace widgets::MdlSetWindowPos
