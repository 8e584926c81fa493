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

#include "cli/merge_texts.h"
#include "cli/password_options.h"
#include "merge/engine_application.h"
#include "merge/merge_run.h"
#include "merge/run_host.h"
#include "merge/run_lock.h"
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
    std::optional<std::string> startRow;
    std::optional<std::string> cells;
    bool header = false;
    bool markPath = false;
    std::optional<std::string> markCells;
    std::optional<std::string> outputDir;
    std::vector<std::string> paths;
    PasswordArguments passwords;
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
                } else if (flag == 'q') {
                    arguments.quiet = true;
                } else if (flag == 'h') {
                    arguments.help = true;
                } else if (flag == 'o') {
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

        auto takeValue = [&](std::optional<std::string>& target) -> bool {
            if (inlineValue) {
                target = *inlineValue;
                return true;
            }
            if (i + 1 >= argc) return false;
            target = argv[++i];
            return true;
        };
        auto flagOnly = [&](bool& target) -> bool {
            target = true;
            return !inlineValue;
        };

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
    }
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
    if (arguments.markPath || arguments.markCells) {
        values.check3 = true;
        if (arguments.markCells) {
            values.label = options::LabelOption::CellContents;
            values.txtHeadEnabled = true;
            values.txtHead = *arguments.markCells;
        }
    }
    return values;
}

// The run's host on a terminal or in a pipe: answers the options dialog from the arguments,
// draws the progress on stderr and keeps the messages until the run has ended, so that the
// summary can go to stdout and everything else to stderr.
class CommandLineHost : public merge::RunHost {
public:
    CommandLineHost(const MergeArguments& arguments, merge::RunLock& lock)
        : m_arguments(arguments), m_lock(lock), m_terminal(isatty(STDERR_FILENO) == 1) {}

    merge::MergeOptions askOptions(const merge::SampleInfo&,
                                   const merge::ReferenceResolver& resolve) override {
        const options::OkOutcome outcome =
            options::runOkAction(dialogValuesOf(m_arguments), resolve);
        if (!outcome.accepted) return refuse(outcome.message);
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
    if (arguments.sheetIndex && arguments.sheetName) return merge_texts::SheetChoicesClash;
    if (arguments.startRow && arguments.cells) return merge_texts::RangeChoicesClash;
    if (arguments.markPath && arguments.markCells) return merge_texts::LabelChoicesClash;
    if (arguments.header && !arguments.startRow) return merge_texts::HeaderNeedsStartRow;
    if (arguments.sheetIndex && !readSheetIndex(*arguments.sheetIndex))
        return merge_texts::BadSheetIndex + *arguments.sheetIndex;
    if (arguments.sheetName && arguments.sheetName->empty())
        return std::string(merge_texts::MissingValue) + "--sheet-name";
    if (arguments.paths.empty()) return std::string(merge_texts::NoPaths);
    return std::nullopt;
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
        sources::WalkResult walk =
            sources::walkFolder(chosen.folderPath, lister, [recursive] { return recursive; });
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

}  // namespace

int runMergeCommand(int argc, char** argv) {
    MergeArguments arguments;
    if (const std::optional<std::string> error = parseArguments(argc, argv, arguments))
        return refuseArguments(*error);
    if (arguments.help) {
        std::fputs(merge_texts::Usage, stdout);
        return ExitAllMerged;
    }
    if (const std::optional<std::string> refusal = refusedCombination(arguments))
        return refuseArguments(*refusal);

    merge::RunInput input;
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
    if (const std::optional<int> refused = collectSources(arguments, input)) return *refused;

    merge::RunLock lock = merge::RunLock::acquire();
    CommandLineHost host(arguments, lock);
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
    if (!saved) return ExitNotDone;
    std::fprintf(stdout, "%s\n%s\n", outcome.resultPath.c_str(), outcome.summary.c_str());
    std::fflush(stdout);
    return outcome.failed > 0 ? ExitSomeFailed : ExitAllMerged;
}

}  // namespace cli
