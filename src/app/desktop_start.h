// The desktop program's start-up: the application object, Qt's own Chinese texts, the start-up
// checks of the main window, and the event loop until the program's work is over.
//   if (hasDisplay()) return runDesktop(argc, argv);
#pragma once

class QCoreApplication;

namespace app {

// True when a window system is reachable: QT_QPA_PLATFORM names a platform, or DISPLAY or
// WAYLAND_DISPLAY is set.
bool hasDisplay();

// Loads Qt's own Chinese texts (qtbase_zh_CN.qm, Debian's qt6-translations-l10n) into
// `application`, so that the file dialogs and the toolkit's other standard texts are Chinese
// whatever the desktop's language. False when the file is missing: the texts stay English.
bool installToolkitTranslations(QCoreApplication& application);

// Runs the desktop program; returns the process exit status.
int runDesktop(int argc, char** argv);

}  // namespace app
