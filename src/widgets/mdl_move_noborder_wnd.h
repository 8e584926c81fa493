// Lets the user drag a window that has no title bar by its surface: the window system's own
// interactive move, as if the title bar had been grabbed, or where the window system refuses
// that (no window manager, or one without the move request), a move that follows the pointer.
//   MdlMoveNoborderWnd::MoveNoborderWnd(this);
#pragma once

#include <functional>

class QPoint;
class QWidget;

namespace widgets::MdlMoveNoborderWnd {

// Starts moving `window` with the pointer while the left button is held: through the window
// system where it accepts, else by following the pointer's moves until the button is released
// (also when the release happens over another widget). Called from a pointer-move handler with
// the left button down and the pointer at `pointer` on the screen.
void MoveNoborderWnd(QWidget* window, QPoint pointer);

// Tests watch the calls through this observer; an empty function removes it. While an
// observer is set, no move is started.
void setMoveObserver(std::function<void(QWidget*)> observer);

}  // namespace widgets::MdlMoveNoborderWnd
