// What the desktop program keeps between runs, and where: the folder its pickers last worked
// in and the options the options dialog last accepted, in <config>/sheetmerge/sheetmerge.conf
// (<config> is $XDG_CONFIG_HOME or ~/.config). The toolkit's file dialogs keep their own history;
// it goes into the same folder, never into
// ~/.config/QtProject.conf.
//   Settings::keepToolkitSettingsWithOurs(); dialog.setDirectory(Settings::lastFolder());
#pragma once

#include <optional>

#include <QString>

#include "merge/job_file.h"

namespace app::Settings {

// The folder of the program's settings: <config>/sheetmerge.
QString folder();

// The folder the pickers last worked in, when it still exists; else the home folder.
QString lastFolder();
void setLastFolder(const QString& folder);

// The options the options dialog last accepted with its file-name filter, as a job without
// paths: the settings, include and exclude. nullopt when none are kept, or when what is kept
// does not read as a job any more (written by a newer version, or damaged): the dialog then
// opens as it always did. Passwords are never part of it.
std::optional<merge::MergeJob> rememberedOptions();
// Keeps the settings and the file-name filter of `job`; its paths and other items are not kept.
void rememberOptions(const merge::MergeJob& job);

// Sends the settings that Qt's own dialogs write under the name "QtProject" into folder().
// Call before the first dialog; later calls change nothing.
void keepToolkitSettingsWithOurs();

}  // namespace app::Settings
