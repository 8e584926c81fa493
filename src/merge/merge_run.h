// One whole merge: choose the sample, ask for the options, create the result workbook, merge
// every source in turn, finish, save and report. The desktop program and the command line call
// Zelk with their own RunHost; tests pass fakes for both the host and the application.
//   RunInput input{sources, "/data/"};
//   RunOutcome outcome = Zelk(input, application, host);
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "merge/automation.h"
#include "merge/merge_options.h"
#include "merge/run_host.h"
#include "merge/source_report.h"

namespace merge {

// Local wall-clock time, as the result's name shows it.
struct LocalTime {
    int year = 2000;  // four digits
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};
using Clock = std::function<LocalTime()>;

// The system's local time now.
LocalTime currentLocalTime();

struct RunInput {
    // Full source paths with "/" separators, two or more. Reordered (the sample first) by the
    // run and emptied at its end.
    std::vector<std::string> SourceList;
    // The sources' folder, ending in exactly one "/"; emptied at the end of the run.
    std::string FolderPath;
    // Where the result goes, ending in "/"; "" means FolderPath.
    std::string resultFolder;
    Clock now = currentLocalTime;
    // Whether a path is taken; by default a look at the file system.
    std::function<bool(const std::string&)> fileExists;
    // Results of earlier merges that the folder walk left out; the summary names them.
    int earlierResultsLeftOut = 0;
    // Passwords (UTF-8) tried in order on every encrypted source, the sample included; kept in
    // memory for the run only.
    std::vector<std::string> passwords;
};

enum class RunStatus {
    Cancelled,            // the options dialog was cancelled; nothing written
    StartFailed,          // no source could serve as the sample: the first candidate could
                          // not be opened; nothing written
    NoWorksheetInSample,  // no source could serve as the sample: the first candidate holds no
                          // worksheet; nothing written
    ResultNotCreated,     // the result could not be created at the start; nothing merged
    Saved,                // the result was saved; `failed` may be above 0
    SaveFailed,           // sources were merged but the final save failed
    Stopped,              // the user stopped the run between sources; its result was removed
};

struct RunOutcome {
    RunStatus status = RunStatus::Cancelled;
    MergeOptions options;    // as the dialog fixed them
    int chosen = 0;          // n
    int merged = 0;          // mergedCount: the blocks in the result
    int failed = 0;          // failCount
    std::string resultPath;  // the result file, once created
    std::string reason;      // why a start, creation or save failed
    // Saved: the one-line summary of the counts (with the earlier results left out).
    std::string summary;
    std::string message;  // the last text shown to the user
    // One per source in merge order, once the run has merged: merged or failed, and why.
    std::vector<SourceReport> sources;
};

// The 0-based positions in the order they are tried as the sample: the paths ending in ".xlsx"
// or ".xlsm" (case matters), then all others, each in list order. The first that opens and
// holds a worksheet is the sample, so that one damaged file does not stop the merge.
std::vector<int> sampleCandidates(const std::vector<std::string>& sources);
// The 0-based position of the first candidate: the first path ending in ".xlsx" or ".xlsm"
// (case matters), else 0.
int chooseSample(const std::vector<std::string>& sources);
// "yymmdd hhmmss", e.g. "150615 093012".
std::string timeStamp(const LocalTime& time);
// The result's path without extension: folder & [sheet name when chosen by name] & "合并 " & stamp.
std::string resultBaseName(const std::string& folder, const SheetChoice& sheet,
                           const LocalTime& time);
// base + extension, or base + " (2)" + extension, " (3)" ... : the first that is not taken.
std::string freeResultPath(const std::string& base, const std::string& extension,
                           const std::function<bool(const std::string&)>& taken);
// The progress bar's width in twips after source `done` of `total`: (done * 5000) \ total.
int progressWidth(int done, int total);

// Performs one merge through `application`, talking to the user only through `host`.
// Never throws; every outcome is in the result.
RunOutcome Zelk(RunInput& input, Application& application, RunHost& host);

}  // namespace merge
