// What the merge run needs from whoever started it (the desktop program, the command line, a
// test): the options dialog, the progress display, messages and the hand-over of the result.
// The run calls these at fixed points only; a desktop host processes pending events there.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "merge/merge_options.h"
#include "spreadsheet/cell_ref.h"

namespace merge {

// Message box styles, by the values users of the original program know them.
enum class MessageStyle {
    Plain = 0,           // no icon, OK
    Warning = 48,        // exclamation icon, OK
    Information = 64,    // information icon, OK
    YesNoQuestion = 68,  // information icon, Yes and No
};

enum class MessageAnswer { Ok, Yes, No };

// Resolves a reference text on the sample's active sheet, as the dialog's OK action needs it:
// the top-left cell of the reference, or nullopt when the text is no valid reference there.
using ReferenceResolver = std::function<std::optional<spreadsheet::CellRef>(const std::string&)>;

// How often the user is asked for the password of one source; the last wrong answer makes it
// fail as WrongPassword.
constexpr int MaxPasswordAttempts = 3;

// The user's answer when a source turns out to be protected by a password.
struct PasswordAnswer {
    std::optional<std::string> password;  // nullopt: skip the file (it is booked as failed)
    bool useForLaterFiles = false;        // try it on the run's later sources too
};

// What the options dialog is filled with.
struct SampleInfo {
    std::string folderPath;                   // FolderPath, ending in "/"
    int sourceCount = 0;                      // n
    std::string samplePath;                   // the sample's full path
    std::vector<std::string> worksheetNames;  // the sample's worksheets in order
    int activeWorksheet =
        0;  // 0-based position of the active sheet among them; 0 when it is no worksheet
};

class RunHost {
public:
    virtual ~RunHost() = default;

    // Shows the options dialog for the sample and waits until it is closed. Returns the
    // options the OK action fixed (Confirmed set), or options with Confirmed false when the
    // user cancelled. `resolve` checks typed addresses against the sample while it is open.
    virtual MergeOptions askOptions(const SampleInfo& sample, const ReferenceResolver& resolve) = 0;

    // After source `done` of `total` has been processed (merged or failed); the first call shows
    // the progress display.
    virtual void showProgress(int done, int total) = 0;
    // Removes the progress display; called once at the end of a run that showed it.
    virtual void closeProgress() = 0;

    // A modal message; returns the button pressed.
    virtual MessageAnswer showMessage(const std::string& text, MessageStyle style,
                                      const std::string& title) = 0;

    // The saved result, handed to the user (the desktop opens it; tests record it).
    virtual void handOver(const std::filesystem::path& result) = 0;

    // Source `path` is encrypted and no password the run knows opens it: asks the user for one.
    // `attempt` counts from 1; from 2 on, the previous answer was wrong (at most
    // MaxPasswordAttempts). By default no password is given and the source is booked as failed.
    virtual PasswordAnswer askPassword(const std::string& path, int attempt) {
        (void)path;
        (void)attempt;
        return {};
    }

    // Right after the options dialog was confirmed: the sources to merge instead of `sources`
    // (the list as the run was given it, in its order), or nullopt to merge them all. The
    // desktop narrows a folder's files by the dialog's file-name filter here. The run keeps
    // the order of the list returned and puts the sample first as it does for a given list.
    virtual std::optional<std::vector<std::string>> narrowSources(
        const std::vector<std::string>& sources) {
        (void)sources;
        return std::nullopt;
    }

    // Before source `number` of `total` (counted from 1) is read: its full path, for a display
    // of the file being merged. The first call comes before the first source is read.
    virtual void beginSource(int /*number*/, int /*total*/, const std::string& /*path*/) {}

    // Asked once after every source, right after showProgress. True stops the run there: it
    // removes its unfinished result and ends with RunStatus::Stopped; sources stay untouched.
    virtual bool stopRequested() { return false; }

    // The run's last message: the summary of a saved run, with `result` its file, or the text
    // of a final save that failed, with an empty `result`. By default an information message.
    virtual void showSummary(const std::string& text, const std::string& title,
                             const std::filesystem::path& /*result*/) {
        showMessage(text, MessageStyle::Information, title);
    }
};

}  // namespace merge
