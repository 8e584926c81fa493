// The desktop program's start-up: the application object, the start-up checks of the main
// window, and the event loop until the program's work is over.
//   if (hasDisplay()) return runDesktop(argc, argv);
#pragma once

namespace app {

// True when a window system is reachable: QT_QPA_PLATFORM names a platform, or DISPLAY or
// WAYLAND_DISPLAY is set.
bool hasDisplay();

// Runs the desktop program; returns the process exit status.
int runDesktop(int argc, char** argv);

}  // namespace app
