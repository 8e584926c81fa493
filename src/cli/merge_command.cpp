// `sheetmerge merge`: reads the arguments, collects the sources (given files, or the walk of a
// folder), then runs the same merge as the desktop program with a host that answers the
// options dialog from the arguments and reports on stdout and stderr.
#include "cli/merge_command.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <csignal>

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include "cli/encoding_option.h"
#include "cli/merge_texts.h"
#include "cli/password_options.h"
#include "merge/engine_application.h"
#include "merge/job_file.h"
#include "merge/merge_log.h"
#include "merge/merge_run.h"
#include "merge/run_host.h"
#include "merge/run_lock.h"
#include "options/dialog_values.h"
#include "options/options_check.h"
#include "sources/folder_walk.h"

extern char** environ;

namespace cli {

namespace {

namespace fs = std::filesystem;

constexpr int ExitAllMerged = 0;
constexpr int ExitSomeFailed = 1;
constexpr int ExitRefused = 2;
constexpr int ExitNotDone = 3;
// Stopped by SIGINT or SIGTERM, as shells report a process ended by Ctrl+C (128 + SIGINT).
constexpr int ExitStopped = 130;

// Set by the signal handler; the run asks for it once per source.
volatile std::sig_atomic_t s_stopSignal = 0;

extern "C" void noteStopSignal(int signal) {
    if (s_stopSignal == 0) {
        // Only async-signal-safe calls here: one write of a fixed text.
        const char* note = merge_texts::Stopping;
        std::size_t length = 0;
        while (note[length] != '\0') ++length;
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, note, length);
    }
    s_stopSignal = signal;
}

// While it lives, Ctrl+C (SIGINT) and SIGTERM ask the run to stop after the source in progress
// instead of ending the process at once, which would leave the result's file half made.
class StopSignals {
public:
    StopSignals() {
        s_stopSignal = 0;
        struct sigaction action {};
        action.sa_handler = noteStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_previousInterrupt);
        sigaction(SIGTERM, &action, &m_previousTerminate);
    }
    ~StopSignals() {
        sigaction(SIGINT, &m_previousInterrupt, nullptr);
        sigaction(SIGTERM, &m_previousTerminate, nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static bool received() { return s_stopSignal != 0; }

private:
    struct sigaction m_previousInterrupt {};
    struct sigaction m_previousTerminate {};
};

struct MergeArguments {
    bool help = false;
    bool recursive = false;
    bool quiet = false;
    bool open = false;
    std::optional<std::string> sheetIndex;
    std::optional<std::string> sheetName;
    bool allSheets = false;
    std::optional<std::string> sheetPattern;
    bool skipHidden = false;
    bool markSheet = false;
    bool perSource = false;
    std::optional<std::string> startRow;
    std::optional<std::string> cells;
    bool header = false;
    bool markPath = false;
    std::optional<std::string> markCells;
    std::optional<std::string> outputDir;
    std::vector<std::string> paths;
    PasswordArguments passwords;
    // The result's format, the folder walk's name filters and saved jobs.
    std::optional<std::string> format;  // "xlsx" or "csv"
    std::vector<std::string> include;
    std::vector<std::string> exclude;
    std::optional<std::string> saveJob;
    std::optional<std::string> job;
    // Every option given, by its long name, for the options a job file holds.
    std::vector<std::string> optionsGiven;
    std::optional<std::string> encoding;
    // Files that are not quite alike: columns, rows, labels and the log.
    bool alignColumns = false;
    bool skipBlankRows = false;
    bool dropHeaderRepeats = false;
    std::optional<std::string> stopAt;
    std::optional<std::string> skipLast;
    bool dedupe = false;
    bool fillMerged = false;
    bool markName = false;
    bool logSheet = false;
    std::optional<std::string> report;
};

void printError(const std::string& text) {
    std::fprintf(stderr, "%s%s\n", merge_texts::ErrorPrefix, text.c_str());
}

// A refusal of the arguments: the reason, then where to find the usage.
int refuseArguments(const std::string& text) {
    printError(text);
    std::fprintf(stderr, "%s\n", merge_texts::SeeHelp);
    return ExitRefused;
}

// The options for files that are not quite alike: nullopt when `name` is none of them, else
// whether its value was there (or, for a flag, whether none was given).
template <typename TakeValue, typename FlagOnly>
std::optional<bool> parseMoreOption(const std::string& name, MergeArguments& arguments,
                                    TakeValue& takeValue, FlagOnly& flagOnly) {
    if (name == "--align-columns") return flagOnly(arguments.alignColumns);
    if (name == "--skip-blank-rows") return flagOnly(arguments.skipBlankRows);
    if (name == "--drop-header-repeats") return flagOnly(arguments.dropHeaderRepeats);
    if (name == "--stop-at") return takeValue(arguments.stopAt);
    if (name == "--skip-last") return takeValue(arguments.skipLast);
    if (name == "--dedupe") return flagOnly(arguments.dedupe);
    if (name == "--fill-merged") return flagOnly(arguments.fillMerged);
    if (name == "--mark-name") return flagOnly(arguments.markName);
    if (name == "--log-sheet") return flagOnly(arguments.logSheet);
    if (name == "--report") return takeValue(arguments.report);
    return std::nullopt;
}

// Parses the options and paths; returns the error text for bad arguments.
std::optional<std::string> parseArguments(int argc, char** argv, MergeArguments& arguments) {
    bool optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            arguments.paths.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" or "--name value"; short options may be grouped ("-rq", "-o DIR").
        std::string name = argument;
        std::optional<std::string> inlineValue;
        if (argument.rfind("--", 0) == 0) {
            const std::size_t equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                inlineValue = argument.substr(equals + 1);
            }
        } else if (argument.size() > 2) {
            for (std::size_t k = 1; k < argument.size(); ++k) {
                const char flag = argument[k];
                if (flag == 'r') {
                    arguments.recursive = true;
                    arguments.optionsGiven.push_back("--recursive");
                } else if (flag == 'q') {
                    arguments.quiet = true;
                } else if (flag == 'h') {
                    arguments.help = true;
                } else if (flag == 'o') {
                    arguments.optionsGiven.push_back("--output-dir");
                    if (k + 1 < argument.size()) {
                        arguments.outputDir = argument.substr(k + 1);
                    } else if (i + 1 < argc) {
                        arguments.outputDir = argv[++i];
                    } else {
                        return std::string(merge_texts::MissingValue) + "-o";
                    }
                    break;
                } else {
                    return std::string(merge_texts::UnknownOption) + "-" + flag;
                }
            }
            continue;
        }

        // A file named by the next argument is never taken from an option after it
        // ("--report -q" lacks its file rather than writing one called -q); --report=-q may
        // still name one.
        const bool namesFile = name == "--report" || name == "--save-job" || name == "--job" ||
                               name == "--output-dir" || name == "--password-file";
        auto takeValue = [&](std::optional<std::string>& target) -> bool {
            if (inlineValue) {
                target = *inlineValue;
                return true;
            }
            if (i + 1 >= argc) return false;
            const std::string_view next = argv[i + 1];
            if (namesFile && next.size() > 1 && next[0] == '-') return false;
            target = argv[++i];
            return true;
        };
        auto flagOnly = [&](bool& target) -> bool {
            target = true;
            return !inlineValue;
        };
        auto takeRepeated = [&](std::vector<std::string>& target) -> bool {
            std::optional<std::string> value;
            if (!takeValue(value)) return false;
            target.push_back(std::move(*value));
            return true;
        };
        arguments.optionsGiven.push_back(name == "-r"   ? std::string("--recursive")
                                         : name == "-o" ? std::string("--output-dir")
                                                        : name);

        bool ok = true;
        if (name == "-h" || name == "--help")
            ok = flagOnly(arguments.help);
        else if (name == "-r" || name == "--recursive")
            ok = flagOnly(arguments.recursive);
        else if (name == "-q" || name == "--quiet")
            ok = flagOnly(arguments.quiet);
        else if (name == "--open")
            ok = flagOnly(arguments.open);
        else if (name == "--header")
            ok = flagOnly(arguments.header);
        else if (name == "--mark-path")
            ok = flagOnly(arguments.markPath);
        else if (name == "--all-sheets")
            ok = flagOnly(arguments.allSheets);
        else if (name == "--skip-hidden")
            ok = flagOnly(arguments.skipHidden);
        else if (name == "--mark-sheet")
            ok = flagOnly(arguments.markSheet);
        else if (name == "--per-source")
            ok = flagOnly(arguments.perSource);
        else if (name == "--sheet-pattern")
            ok = takeValue(arguments.sheetPattern);
        else if (name == "--sheet-index")
            ok = takeValue(arguments.sheetIndex);
        else if (name == "--sheet-name")
            ok = takeValue(arguments.sheetName);
        else if (name == "--start-row")
            ok = takeValue(arguments.startRow);
        else if (name == "--cells")
            ok = takeValue(arguments.cells);
        else if (name == "--mark-cells")
            ok = takeValue(arguments.markCells);
        else if (name == "-o" || name == "--output-dir")
            ok = takeValue(arguments.outputDir);
        else if (name == "--format")
            ok = takeValue(arguments.format);
        else if (name == "--include")
            ok = takeRepeated(arguments.include);
        else if (name == "--exclude")
            ok = takeRepeated(arguments.exclude);
        else if (name == "--save-job")
            ok = takeValue(arguments.saveJob);
        else if (name == "--job")
            ok = takeValue(arguments.job);
        else if (isEncodingOption(name))
            ok = takeValue(arguments.encoding);
        else if (std::optional<bool> known = parseMoreOption(name, arguments, takeValue, flagOnly))
            ok = *known;
        else if (isPasswordOption(name)) {
            std::optional<std::string> value;
            ok = takeValue(value);
            if (ok) arguments.passwords.add(name, std::move(*value));
        } else
            return std::string(merge_texts::UnknownOption) + argument;
        if (!ok) {
            if (inlineValue) return std::string(merge_texts::UnknownOption) + argument;
            return std::string(merge_texts::MissingValue) + name;
        }
    }
    return std::nullopt;
}

// The position of --sheet-index: a whole number from 1, digits only.
std::optional<int> readSheetIndex(const std::string& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 2'147'483'647LL) return std::nullopt;
    return static_cast<int>(value);
}

// The dialog as the arguments fill it. The combination rules of the dialog (one choice per
// group, the header only with a start row) are checked before, as bad arguments.
options::DialogValues dialogValuesOf(const MergeArguments& arguments) {
    options::DialogValues values;
    values.clicked = options::OkPart::Caption;
    if (arguments.sheetIndex) {
        values.sheet = options::SheetOption::ByPosition;
        values.combo1 = options::positionItem(*readSheetIndex(*arguments.sheetIndex));
    } else if (arguments.sheetName) {
        values.sheet = options::SheetOption::ByName;
        values.combo2 = *arguments.sheetName;
    } else if (arguments.allSheets) {
        values.sheet = options::SheetOption::All;
    } else if (arguments.sheetPattern) {
        values.sheet = options::SheetOption::ByPattern;
        values.sheetPattern = *arguments.sheetPattern;
    }
    values.skipHidden = arguments.skipHidden;
    values.markSheet = arguments.markSheet;
    values.perSource = arguments.perSource;
    if (arguments.startRow) {
        values.range = options::RangeOption::StartRow;
        values.txtRow = *arguments.startRow;
        values.check2 = arguments.header;
    } else if (arguments.cells) {
        values.range = options::RangeOption::Cells;
        const std::string& cells = *arguments.cells;
        const std::size_t colon = cells.find(':');
        values.txtLT = cells.substr(0, colon);
        // "B2:G5" ticks "右下角"; "B2:" and "B2" leave the corner to the run.
        if (colon != std::string::npos && colon + 1 < cells.size()) {
            values.check1 = true;
            values.txtRB = cells.substr(colon + 1);
        }
    } else {
        values.range = options::RangeOption::LargestRectangle;
    }
    if (arguments.markPath || arguments.markCells || arguments.markName) {
        values.check3 = true;
        if (arguments.markCells) {
            values.label = options::LabelOption::CellContents;
            values.txtHeadEnabled = true;
            values.txtHead = *arguments.markCells;
        } else if (arguments.markName) {
            values.label = options::LabelOption::FileName;
        }
    }
    values.alignColumns = arguments.alignColumns;
    values.skipBlankRows = arguments.skipBlankRows;
    values.dropHeaderRepeats = arguments.dropHeaderRepeats;
    values.stopAt = arguments.stopAt.has_value();
    values.txtStopAt = arguments.stopAt.value_or(std::string());
    values.skipLast = arguments.skipLast.has_value();
    values.txtSkipLast = arguments.skipLast.value_or(std::string());
    values.dedupe = arguments.dedupe;
    values.fillMerged = arguments.fillMerged;
    values.logSheet = arguments.logSheet;
    return values;
}

// The run's host on a terminal or in a pipe: answers the options dialog from the arguments,
// draws the progress on stderr and keeps the messages until the run has ended, so that the
// summary can go to stdout and everything else to stderr.
class CommandLineHost : public merge::RunHost {
public:
    // `values` fill the options dialog; with `jobToSave`, the job is saved once the options
    // passed their checks, with the settings they gave.
    CommandLineHost(const MergeArguments& arguments, options::DialogValues values,
                    std::optional<merge::MergeJob> jobToSave, merge::RunLock& lock)
        : m_arguments(arguments),
          m_values(std::move(values)),
          m_jobToSave(std::move(jobToSave)),
          m_lock(lock),
          m_terminal(isatty(STDERR_FILENO) == 1) {}

    merge::MergeOptions askOptions(const merge::SampleInfo&,
                                   const merge::ReferenceResolver& resolve) override {
        const options::OkOutcome outcome = options::runOkAction(m_values, resolve);
        if (!outcome.accepted) return refuse(outcome.message);
        if (m_jobToSave) {
            m_jobToSave->settings = merge::decodeOptions(outcome.options);
            const std::string file = *m_arguments.saveJob;
            if (const std::optional<std::string> problem = merge::saveJobFile(file, *m_jobToSave))
                return refuse(merge_texts::JobNotSaved + file + merge_texts::QuoteColon + *problem);
        }
        return outcome.options;
    }

    void showProgress(int done, int total) override {
        if (m_arguments.quiet || total <= 0) return;
        if (m_terminal) {
            constexpr int Width = 30;
            const int filled = static_cast<int>(static_cast<long long>(done) * Width / total);
            std::string bar(static_cast<std::size_t>(filled), '#');
            bar.append(static_cast<std::size_t>(Width - filled), '.');
            std::fprintf(stderr, "\r%s [%s] %d / %d", merge_texts::ProgressLabel, bar.c_str(), done,
                         total);
            m_barShown = true;
        } else {
            // In a log: the first source, every tenth of the way, and the last.
            const int tenth = static_cast<int>(static_cast<long long>(done) * 10 / total);
            if (done != 1 && done != total && tenth == m_lastTenth) return;
            m_lastTenth = tenth;
            std::fprintf(stderr, "%s %d / %d\n", merge_texts::ProgressLabel, done, total);
        }
        std::fflush(stderr);
    }

    void closeProgress() override {
        if (m_barShown) std::fputc('\n', stderr);
        m_barShown = false;
        std::fflush(stderr);
    }

    merge::MessageAnswer showMessage(const std::string& text, merge::MessageStyle style,
                                     const std::string&) override {
        m_messages.push_back(text);
        // No question is asked during a run; were one asked, No changes nothing.
        return style == merge::MessageStyle::YesNoQuestion ? merge::MessageAnswer::No
                                                           : merge::MessageAnswer::Ok;
    }

    void handOver(const fs::path& result) override {
        // From here on the merge is over: a desktop start-up may go ahead.
        m_lock.release();
        if (m_arguments.open) openWithDesktop(result);
    }

    bool stopRequested() override { return StopSignals::received(); }

    bool refused() const { return m_refused; }
    const std::vector<std::string>& messages() const { return m_messages; }

private:
    merge::MergeOptions refuse(const std::string& message) {
        printError(message);
        m_refused = true;
        return merge::MergeOptions{};
    }

    static void openWithDesktop(const fs::path& result) {
        const std::string path = result.string();
        char program[] = "xdg-open";
        std::vector<char*> argv{program, const_cast<char*>(path.c_str()), nullptr};
        pid_t child = 0;
        // Not waited for: the desktop program may stay open long after this command ends.
        if (posix_spawnp(&child, program, nullptr, nullptr, argv.data(), environ) != 0)
            printError(std::string(merge_texts::CannotOpenResult) + path);
    }

    const MergeArguments& m_arguments;
    const options::DialogValues m_values;
    std::optional<merge::MergeJob> m_jobToSave;
    merge::RunLock& m_lock;
    bool m_terminal = false;
    bool m_barShown = false;
    int m_lastTenth = -1;
    bool m_refused = false;
    std::vector<std::string> m_messages;
};

std::string absoluteNormal(const std::string& path) {
    std::error_code error;
    fs::path absolute = fs::absolute(fs::path(path), error);
    if (error) absolute = fs::path(path);
    return absolute.lexically_normal().string();
}

// The deepest folder holding all the files, ending in "/".
std::string commonFolder(const std::vector<std::string>& files) {
    fs::path common = fs::path(files.front()).parent_path();
    for (const std::string& file : files) {
        const fs::path folder = fs::path(file).parent_path();
        fs::path shared;
        auto a = common.begin();
        auto b = folder.begin();
        for (; a != common.end() && b != folder.end() && *a == *b; ++a, ++b) shared /= *a;
        common = shared;
    }
    return sources::withOneTrailingSlash(common.string());
}

// The refusal text for combinations the dialog would not allow, or nullopt.
std::optional<std::string> refusedCombination(const MergeArguments& arguments) {
    const int sheetChoices = (arguments.sheetIndex ? 1 : 0) + (arguments.sheetName ? 1 : 0) +
                             (arguments.allSheets ? 1 : 0) + (arguments.sheetPattern ? 1 : 0);
    if (arguments.sheetIndex && arguments.sheetName) return merge_texts::SheetChoicesClash;
    if (sheetChoices > 1) return merge_texts::SeveralSheetChoicesClash;
    if (arguments.startRow && arguments.cells) return merge_texts::RangeChoicesClash;
    if (arguments.markPath && arguments.markCells) return merge_texts::LabelChoicesClash;
    if (arguments.markName && (arguments.markPath || arguments.markCells))
        return merge_texts::NameLabelClash;
    if (arguments.header && !arguments.startRow) return merge_texts::HeaderNeedsStartRow;
    if (arguments.sheetIndex && !readSheetIndex(*arguments.sheetIndex))
        return merge_texts::BadSheetIndex + *arguments.sheetIndex;
    if (arguments.sheetName && arguments.sheetName->empty())
        return std::string(merge_texts::MissingValue) + "--sheet-name";
    if (arguments.sheetPattern && arguments.sheetPattern->empty())
        return std::string(merge_texts::MissingValue) + "--sheet-pattern";
    return std::nullopt;
}

// The refusal text for a bad value of the result format, a name filter, the job to save or the
// report, or nullopt.
std::optional<std::string> refusedRunOption(const MergeArguments& arguments) {
    if (arguments.format && *arguments.format != "xlsx" && *arguments.format != "csv")
        return merge_texts::BadFormat + *arguments.format;
    for (const std::string& pattern : arguments.include)
        if (pattern.empty()) return std::string(merge_texts::EmptyPattern) + "--include";
    for (const std::string& pattern : arguments.exclude)
        if (pattern.empty()) return std::string(merge_texts::EmptyPattern) + "--exclude";
    if (arguments.saveJob && arguments.saveJob->empty())
        return std::string(merge_texts::MissingValue) + "--save-job";
    if (arguments.report && arguments.report->empty())
        return std::string(merge_texts::MissingValue) + "--report";
    return std::nullopt;
}

// Options that may go with --job: they are not part of a job (passwords are never saved; the
// CSV encoding is a matter of the files at hand; the report is about this one run).
bool mayGoWithJob(const std::string& option) {
    return option == "--job" || option == "--save-job" || option == "-q" || option == "--quiet" ||
           option == "--open" || option == "-h" || option == "--help" || option == "--report" ||
           isPasswordOption(option) || isEncodingOption(option);
}

// Takes the merge from the job file named by --job: its options, and its paths unless the
// command line gives some. Returns the exit status when the job is refused (the reason is
// printed).
std::optional<int> takeJob(MergeArguments& arguments, std::optional<merge::MergeJob>& job) {
    for (const std::string& option : arguments.optionsGiven)
        if (!mayGoWithJob(option))
            return refuseArguments(merge_texts::OptionBesideJobHead + option +
                                   merge_texts::OptionBesideJobTail);
    merge::JobReading reading = merge::loadJobFile(*arguments.job);
    if (!reading.job) {
        printError(merge_texts::JobUnusable + *arguments.job + merge_texts::JobUnusableTail +
                   reading.error);
        return ExitRefused;
    }
    job = std::move(reading.job);
    if (arguments.paths.empty()) arguments.paths = job->paths;
    arguments.recursive = job->recursive;
    arguments.include = job->include;
    arguments.exclude = job->exclude;
    if (!job->outputFolder.empty()) arguments.outputDir = job->outputFolder;
    if (job->format == merge::SaveFormat::Csv) arguments.format = "csv";
    return std::nullopt;
}

// The job --save-job writes, before the run fixes its settings: the paths as given, made
// absolute, and the options of the run.
merge::MergeJob jobOf(const MergeArguments& arguments) {
    merge::MergeJob job;
    for (const std::string& path : arguments.paths) job.paths.push_back(absoluteNormal(path));
    job.recursive = arguments.recursive;
    job.include = arguments.include;
    job.exclude = arguments.exclude;
    if (arguments.outputDir) job.outputFolder = absoluteNormal(*arguments.outputDir);
    job.format = arguments.format == "csv" ? merge::SaveFormat::Csv : merge::SaveFormat::Xlsx;
    return job;
}

// Fills the sources of `input`: the walk of one folder, or two or more files taken as given.
// Returns the exit status when the paths are refused (the reason is printed).
std::optional<int> collectSources(const MergeArguments& arguments, merge::RunInput& input) {
    std::error_code error;
    const fs::file_status first = fs::status(arguments.paths.front(), error);
    if (arguments.paths.size() == 1 && fs::is_directory(first)) {
        const std::string folder = absoluteNormal(arguments.paths.front());
        const std::string displayName =
            fs::path(sources::withOneTrailingSlash(folder)).parent_path().filename().string();
        const sources::ChosenFolder chosen = sources::checkChosenFolderOnDisk(displayName, folder);
        if (chosen.check != sources::FolderCheck::Ok) {
            printError(chosen.message);
            return ExitRefused;
        }
        sources::FileSystemLister lister;
        const bool recursive = arguments.recursive;
        const sources::NameFilter filter{arguments.include, arguments.exclude};
        sources::WalkResult walk = sources::walkFolder(
            chosen.folderPath, lister, [recursive] { return recursive; }, filter);
        if (walk.outcome != sources::WalkOutcome::Ok) {
            printError(walk.message);
            return ExitRefused;
        }
        input.FolderPath = chosen.folderPath;
        input.SourceList = std::move(walk.sourceList);
        input.earlierResultsLeftOut = walk.resultsLeftOut;
        return std::nullopt;
    }
    for (const std::string& path : arguments.paths) {
        const fs::file_status status = fs::status(path, error);
        if (!fs::exists(status)) return refuseArguments(merge_texts::PathMissing + path);
        if (fs::is_directory(status)) return refuseArguments(merge_texts::FolderAmongFiles + path);
        // Pipes and devices would block or never end when read as a workbook.
        if (!fs::is_regular_file(status)) return refuseArguments(merge_texts::NotAFile + path);
        input.SourceList.push_back(absoluteNormal(path));
    }
    if (input.SourceList.size() < 2) return refuseArguments(merge_texts::AtLeastTwoFiles);
    input.FolderPath = commonFolder(input.SourceList);
    return std::nullopt;
}

// One line on stderr; line breaks inside a field would split it, so they become blanks.
void printLine(std::string line) {
    for (char& character : line)
        if (character == '\n' || character == '\r') character = ' ';
    std::fprintf(stderr, "%s\n", line.c_str());
}

// One line per failed source ("失败：路径：原因：说明") and per merged source whose formulas
// had no cached values ("提示：路径：N 个公式单元格…"), in merge order.
void printSourceLines(const std::vector<merge::SourceReport>& reports) {
    for (const merge::SourceReport& report : reports) {
        if (report.failure) {
            printLine(merge_texts::FailedPrefix + report.path + merge_texts::FieldSeparator +
                      merge::reasonText(report.failure->reason) + merge_texts::FieldSeparator +
                      report.failure->cause());
        } else if (report.uncalculatedFormulas > 0) {
            printLine(merge_texts::NoticePrefix + report.path + merge_texts::FieldSeparator +
                      std::to_string(report.uncalculatedFormulas) + merge_texts::UncalculatedTail);
        }
    }
}

// The report file's full path, or the refusal when its folder is missing or it names a folder.
std::optional<std::string> checkReportPath(const std::string& given, std::string& path) {
    std::error_code error;
    path = absoluteNormal(given);
    if (fs::is_directory(path, error)) return merge_texts::ReportIsFolder + given;
    const fs::path folder = fs::path(path).parent_path();
    if (!fs::is_directory(folder, error)) return merge_texts::ReportFolderMissing + given;
    return std::nullopt;
}

// Writes the report through a temporary file in the same folder, so that a reader never sees
// half of it; an earlier report at that path is replaced. Returns false when it cannot.
bool writeReport(const std::string& path, const std::string& json) {
    const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(json.data(), 1, json.size(), file) == json.size();
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    if (written && closed) {
        fs::rename(temporary, path, error);
        if (!error) return true;
    }
    fs::remove(temporary, error);
    return false;
}

}  // namespace

int runMergeCommand(int argc, char** argv) {
    MergeArguments arguments;
    if (const std::optional<std::string> error = parseArguments(argc, argv, arguments))
        return refuseArguments(*error);
    if (arguments.help) {
        std::fputs(merge_texts::Usage, stdout);
        return ExitAllMerged;
    }
    std::optional<merge::MergeJob> job;
    if (arguments.job) {
        if (const std::optional<int> refused = takeJob(arguments, job)) return *refused;
    } else if (const std::optional<std::string> refusal = refusedCombination(arguments)) {
        return refuseArguments(*refusal);
    }
    if (const std::optional<std::string> refusal = refusedRunOption(arguments))
        return refuseArguments(*refusal);
    if (arguments.paths.empty()) return refuseArguments(merge_texts::NoPaths);

    merge::RunInput input;
    if (arguments.format == "csv") input.resultFormat = merge::SaveFormat::Csv;
    if (arguments.encoding) {
        if (const std::optional<std::string> refusal =
                resolveEncoding(*arguments.encoding, input.csvEncoding))
            return refuseArguments(*refusal);
    }
    if (const std::optional<std::string> refusal = arguments.passwords.resolve(input.passwords)) {
        printError(*refusal);
        return ExitRefused;
    }
    if (arguments.outputDir) {
        std::error_code error;
        const std::string folder = absoluteNormal(*arguments.outputDir);
        if (!fs::is_directory(folder, error))
            return refuseArguments(merge_texts::OutputDirMissing + *arguments.outputDir);
        input.resultFolder = sources::withOneTrailingSlash(folder);
    }
    std::string reportPath;
    if (arguments.report)
        if (const std::optional<std::string> refusal =
                checkReportPath(*arguments.report, reportPath))
            return refuseArguments(*refusal);
    if (const std::optional<int> refused = collectSources(arguments, input)) return *refused;

    merge::RunLock lock = merge::RunLock::acquire();
    CommandLineHost host(arguments,
                         job ? options::dialogValuesOf(job->settings) : dialogValuesOf(arguments),
                         arguments.saveJob ? std::optional(jobOf(arguments)) : std::nullopt, lock);
    std::unique_ptr<merge::Application> application = merge::makeEngineApplication();
    const StopSignals stopSignals;
    const merge::RunOutcome outcome = merge::Zelk(input, *application, host);
    lock.release();
    if (outcome.status == merge::RunStatus::Stopped) {
        std::fprintf(stderr, "%s\n", outcome.message.c_str());
        return ExitStopped;
    }

    const bool saved = outcome.status == merge::RunStatus::Saved;
    for (const std::string& message : host.messages()) {
        if (saved && message == outcome.message) continue;
        std::fprintf(stderr, "%s\n", message.c_str());
    }
    printSourceLines(outcome.sources);
    if (host.refused()) return ExitRefused;
    if (arguments.report && (saved || outcome.status == merge::RunStatus::SaveFailed) &&
        !writeReport(reportPath,
                     merge::reportJson(outcome, merge::decodeOptions(outcome.options)))) {
        printError(merge_texts::ReportNotWritten + reportPath);
        if (saved)
            std::fprintf(stdout, "%s\n%s\n", outcome.resultPath.c_str(), outcome.summary.c_str());
        return ExitNotDone;
    }
    if (!saved) return ExitNotDone;
    std::fprintf(stdout, "%s\n%s\n", outcome.resultPath.c_str(), outcome.summary.c_str());
    std::fflush(stdout);
    return outcome.failed > 0 ? ExitSomeFailed : ExitAllMerged;
}

}  // namespace cli
