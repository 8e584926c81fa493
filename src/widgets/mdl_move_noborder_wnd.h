// Lets the user drag a window that has no title bar by its surface: the window system's own
// interactive move, as if the title bar had been grabbed.
//   MdlMoveNoborderWnd::MoveNoborderWnd(this);
#pragma once

#include <functional>

class QWidget;

namespace widgets::MdlMoveNoborderWnd {

// Starts the window system's move of `window` with the pointer; the move ends when the button
// is released. Does nothing where the platform offers no such move (the offscreen platform).
void MoveNoborderWnd(QWidget* window);

// Tests watch the calls through this observer; an empty function removes it. While an
// observer is set, no move is started.
void setMoveObserver(std::function<void(QWidget*)> observer);

}  // namespace widgets::MdlMoveNoborderWnd
