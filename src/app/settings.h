// What the desktop program keeps between runs, and where: the folder its pickers last worked
// in, in <config>/sheetmerge/sheetmerge.conf (<config> is $XDG_CONFIG_HOME or ~/.config). The
// toolkit's file dialogs keep their own history; it goes into the same folder, never into
// ~/.config/QtProject.conf.
//   Settings::keepToolkitSettingsWithOurs(); dialog.setDirectory(Settings::lastFolder());
#pragma once

#include <QString>

namespace app::Settings {

// The folder of the program's settings: <config>/sheetmerge.
QString folder();

// The folder the pickers last worked in, when it still exists; else the home folder.
QString lastFolder();
void setLastFolder(const QString& folder);

// Sends the settings that Qt's own dialogs write under the name "QtProject" into folder().
// Call before the first dialog; later calls change nothing.
void keepToolkitSettingsWithOurs();

}  // namespace app::Settings
