// Keeps a window above all others: the options dialog when it is created, the progress window
// when it loads.
//   MdlSetWindowPos::SetWindowTopmost(this, true);
#pragma once

class QWidget;

namespace widgets::MdlSetWindowPos {

// Puts `window` above all normal windows (true) or back among them (false). Only the place in
// the stacking order changes: a visible window keeps its position and size.
void SetWindowTopmost(QWidget* window, bool topmost);

}  // namespace widgets::MdlSetWindowPos
