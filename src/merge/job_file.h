// A saved merge job: the paths of a merge and every one of its options, in a JSON file that
// `sheetmerge merge --save-job FILE` writes and `sheetmerge merge --job FILE` runs again. The
// format is described for people in docs/job-file.md. Items are named as the command line's
// options (without "--"); an item missing from a file has its default, an unknown item makes the
// whole file refused, so a job is never run half understood.
//   JobReading reading = loadJobFile(path);
//   if (!reading.job) refuse(reading.error);
//   std::optional<std::string> problem = saveJobFile(path, job);
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "merge/automation.h"
#include "merge/merge_options.h"

namespace merge {

// The format version written into every job file. A reader refuses files of a higher version.
// Adding an item does not change it (older programs refuse the unknown item by name); changing
// what an existing item means does.
inline constexpr int JobFormatVersion = 1;

struct MergeJob {
    // Two or more files in merge order, or one folder; absolute paths.
    std::vector<std::string> paths;
    bool recursive = false;                // a folder's sub-folders at every depth too
    std::vector<std::string> include;      // file-name patterns a folder walk takes ("*销售*")
    std::vector<std::string> exclude;      // file-name patterns it leaves out
    std::string outputFolder;              // where the result goes; "" = the sources' folder
    SaveFormat format = SaveFormat::Xlsx;  // Xlsx or Csv
    MergeSettings settings;

    friend bool operator==(const MergeJob&, const MergeJob&) = default;
};

// The job as the text of a job file (UTF-8 JSON): the version, the paths, then every option
// with its value, defaults included, so the file shows what can be changed.
std::string jobText(const MergeJob& job);

// A job read from a file: `job` set, or `error` saying what is wrong, in words users can read.
struct JobReading {
    std::optional<MergeJob> job;
    std::string error;
};

// Reads the text of a job file. Refused, with nothing taken from it: text that is not UTF-8 or
// not JSON, a higher format version, an unknown item, a value of the wrong kind or range, and
// combinations the command line refuses too. Relative paths are taken from `baseFolder` (the
// folder holding the file).
JobReading readJob(std::string_view text, const std::filesystem::path& baseFolder);

// Reads the job file at `file`.
JobReading loadJobFile(const std::filesystem::path& file);

// Writes the job file at `file` through a temporary file renamed into place. An existing file
// is replaced only when it is a job file itself (of any version), so a mistyped name never
// costs a workbook. Returns the reason when the file was not written, nullopt when it was.
std::optional<std::string> saveJobFile(const std::filesystem::path& file, const MergeJob& job);

}  // namespace merge
