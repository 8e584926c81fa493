// The merge run: sample and options, the result workbook, the loop over the sources, and the
// hand-over of the result.
#include "merge/merge_run.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "merge/copy_and_mark.h"
#include "merge/detail/run_state.h"
#include "merge/failure_table.h"
#include "merge/result_finishing.h"
#include "merge/run_stop.h"
#include "merge/source_extraction.h"
#include "merge/texts.h"

namespace merge {

namespace {

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string twoDigits(int value) {
    value %= 100;
    return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

bool pathTaken(const std::string& path) {
    std::error_code error;
    // symlink_status: a dangling link still takes the name.
    return std::filesystem::symlink_status(std::filesystem::path(path), error).type() !=
           std::filesystem::file_type::not_found;
}

// Leaves the run: the inputs are emptied as at the end of every run.
void tearDown(RunInput& input) {
    input.SourceList.clear();
    input.FolderPath.clear();
}

// Creates the result file (or folder) under a free name; returns "" and sets `reason` when it
// cannot.
std::string createResult(Workbook& book, Application& application, const std::string& base,
                         SaveFormat wanted, const std::function<bool(const std::string&)>& taken,
                         std::string& reason) {
    ErrorState& errors = application.errors();
    std::set<std::string> refused;
    auto takenOrRefused = [&](const std::string& path) {
        return refused.count(path) > 0 || taken(path);
    };
    SaveFormat format = wanted;
    // A CSV result is a folder: the result's name without extension.
    std::string extension = wanted == SaveFormat::Csv ? "" : ".xlsx";
    // A name taken between the look and the save is refused by saveAs; try the next one.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string path = freeResultPath(base, extension, takenOrRefused);
        errors.clear();
        book.saveAs(path, format);
        if (!errors.isSet()) return path;
        const spreadsheet::ErrorCode code = errors.error().code;
        if (code == spreadsheet::ErrorCode::TargetExists) {
            refused.insert(path);
            continue;
        }
        if (code == spreadsheet::ErrorCode::FormatNotAvailable && format == SaveFormat::Xlsx) {
            // An application without the newer format writes the older one.
            format = SaveFormat::Xls;
            extension = ".xls";
            continue;
        }
        reason = path + texts::QuoteColon + errors.message();
        errors.clear();
        return {};
    }
    reason = base + extension;
    return {};
}

// Ends a run the user stopped after `done` sources: nothing of it is kept.
RunOutcome stopRun(detail::RunState& run, RunOutcome& outcome, RunInput& input, int done) {
    run.host.closeProgress();
    abandonResult(*run.resultBook, outcome.resultPath);
    run.errors().clear();
    outcome.status = RunStatus::Stopped;
    outcome.resultPath.clear();
    outcome.message = stoppedText(done, outcome.chosen);
    run.host.showMessage(outcome.message, MessageStyle::Information, texts::NoticeTitle);
    tearDown(input);
    return outcome;
}

}  // namespace

LocalTime currentLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                     local.tm_hour,        local.tm_min,     local.tm_sec};
}

namespace {

bool isPackageName(const std::string& path) {
    return endsWith(path, ".xlsx") || endsWith(path, ".xlsm");
}

}  // namespace

std::vector<int> sampleCandidates(const std::vector<std::string>& sources) {
    std::vector<int> order;
    order.reserve(sources.size());
    for (std::size_t position = 0; position < sources.size(); ++position)
        if (isPackageName(sources[position])) order.push_back(static_cast<int>(position));
    for (std::size_t position = 0; position < sources.size(); ++position)
        if (!isPackageName(sources[position])) order.push_back(static_cast<int>(position));
    return order;
}

int chooseSample(const std::vector<std::string>& sources) {
    const std::vector<int> candidates = sampleCandidates(sources);
    return candidates.empty() ? 0 : candidates.front();
}

std::string timeStamp(const LocalTime& time) {
    return twoDigits(time.year) + twoDigits(time.month) + twoDigits(time.day) + " " +
           twoDigits(time.hour) + twoDigits(time.minute) + twoDigits(time.second);
}

std::string resultBaseName(const std::string& folder, const SheetChoice& sheet,
                           const LocalTime& time) {
    std::string base = folder;
    if (sheet.mode == SheetMode::ByName) base += sheet.name;
    return base + texts::MergedSuffix + timeStamp(time);
}

std::string freeResultPath(const std::string& base, const std::string& extension,
                           const std::function<bool(const std::string&)>& taken) {
    std::string path = base + extension;
    for (int number = 2; taken(path); ++number)
        path = base + " (" + std::to_string(number) + ")" + extension;
    return path;
}

int progressWidth(int done, int total) {
    if (total <= 0) return 0;
    return static_cast<int>(static_cast<long long>(done) * 5000 / total);
}

namespace {

// Why the first candidate could not serve as the sample, kept until no other can either.
struct SampleRefusal {
    RunStatus status = RunStatus::StartFailed;
    std::string reason;
    std::string message;
    MessageStyle style = MessageStyle::Plain;
    const char* title = texts::ErrorTitle;
};

// Opens the candidate at `path`. Returns it when it holds a worksheet; otherwise closes it and
// returns nullptr with `refusal` saying why.
std::shared_ptr<Workbook> tryAsSample(const std::string& path, Application& application,
                                      SampleRefusal& refusal) {
    ErrorState& errors = application.errors();
    errors.clear();
    std::shared_ptr<Workbook> book = application.openWorkbook(path);
    if (!book || errors.isSet()) {
        refusal.status = RunStatus::StartFailed;
        refusal.reason = errors.message();
        refusal.message =
            std::string(texts::CannotOpenHead) + path + texts::QuoteColon + refusal.reason;
        refusal.style = MessageStyle::Plain;
        refusal.title = texts::ErrorTitle;
        errors.clear();
        if (book) book->close();
        return nullptr;
    }
    if (book->worksheetCount() == 0) {
        refusal.status = RunStatus::NoWorksheetInSample;
        refusal.reason.clear();
        refusal.message = std::string("“") + book->name() + texts::NoWorksheetTail;
        refusal.style = MessageStyle::Information;
        refusal.title = texts::NoticeTitle;
        book->close();
        errors.clear();
        return nullptr;
    }
    return book;
}

// Opens the sample: the first candidate that opens and holds a worksheet, moved to the front;
// the merge runs in this order, and candidates passed over are merged or failed in their turn.
// Returns nullptr when no source can serve; `outcome` then says why the first candidate could
// not and the user has been told.
std::shared_ptr<Workbook> openSample(std::vector<std::string>& sources, Application& application,
                                     RunHost& host, RunOutcome& outcome) {
    std::optional<SampleRefusal> firstRefusal;
    for (const int position : sampleCandidates(sources)) {
        SampleRefusal refusal;
        std::shared_ptr<Workbook> sample =
            tryAsSample(sources[static_cast<std::size_t>(position)], application, refusal);
        if (sample) {
            std::swap(sources[static_cast<std::size_t>(position)], sources[0]);
            return sample;
        }
        if (!firstRefusal) firstRefusal = std::move(refusal);
    }
    outcome.status = firstRefusal->status;
    outcome.reason = firstRefusal->reason;
    outcome.message = firstRefusal->message;
    host.showMessage(outcome.message, firstRefusal->style, firstRefusal->title);
    application.quit();
    application.errors().clear();
    return nullptr;
}

// Shows the options dialog filled from the open sample, then closes the sample.
MergeOptions askForOptions(std::shared_ptr<Workbook> sample, const RunInput& input,
                           Application& application, RunHost& host) {
    ErrorState& errors = application.errors();
    SampleInfo info;
    info.folderPath = input.FolderPath;
    info.sourceCount = static_cast<int>(input.SourceList.size());
    info.samplePath = input.SourceList.front();
    const std::shared_ptr<Worksheet> active = sample->activeSheet();
    const std::string activeName = active ? active->name() : std::string();
    const int worksheetCount = sample->worksheetCount();
    for (int position = 1; position <= worksheetCount; ++position) {
        const std::shared_ptr<Worksheet> sheet = sample->worksheet(position);
        const std::string name = sheet ? sheet->name() : std::string();
        if (active && name == activeName) info.activeWorksheet = position - 1;
        info.worksheetNames.push_back(name);
    }
    errors.clear();
    const ReferenceResolver resolve =
        [&](const std::string& text) -> std::optional<spreadsheet::CellRef> {
        const std::shared_ptr<Worksheet> sheet = sample->activeSheet();
        const std::shared_ptr<Range> range = sheet ? sheet->range(text) : nullptr;
        if (!range || errors.isSet()) {
            errors.clear();
            return std::nullopt;
        }
        return spreadsheet::CellRef{range->row(), range->column()};
    };
    MergeOptions options = host.askOptions(info, resolve);
    sample->close();
    sample.reset();
    errors.clear();
    return options;
}

// Creates the result workbook with one sheet and saves it at once under its time-stamped name.
// Returns nullptr when it cannot be created; `outcome` then says why and the user has been
// told. On success `outcome.resultPath` names the file.
std::shared_ptr<Workbook> createResultWorkbook(const RunInput& input, const SheetChoice& sheet,
                                               Application& application, RunHost& host,
                                               RunOutcome& outcome) {
    ErrorState& errors = application.errors();
    const int sheetsBefore = application.sheetsInNewWorkbook();
    application.setSheetsInNewWorkbook(1);
    std::shared_ptr<Workbook> resultBook = application.addWorkbook();
    application.setSheetsInNewWorkbook(sheetsBefore);
    const std::string folder = input.resultFolder.empty() ? input.FolderPath : input.resultFolder;
    const std::string base =
        resultBaseName(folder, sheet, input.now ? input.now() : currentLocalTime());
    std::string reason;
    std::string resultPath;
    if (!resultBook) {
        reason = base + texts::QuoteColon + errors.message();
        errors.clear();
    } else {
        resultPath = createResult(*resultBook, application, base, input.resultFormat,
                                  input.fileExists ? input.fileExists : pathTaken, reason);
    }
    if (resultPath.empty()) {
        // Nothing is merged into a result that cannot be written.
        outcome.status = RunStatus::ResultNotCreated;
        outcome.reason = reason;
        outcome.message = std::string(texts::CannotCreateHead) + reason + texts::NothingMergedTail;
        host.showMessage(outcome.message, MessageStyle::Information, texts::NoticeTitle);
        if (resultBook) resultBook->close();
        errors.clear();
        return nullptr;
    }
    outcome.resultPath = resultPath;
    return resultBook;
}

// Why a source gives no sheet to merge when several are chosen from it.
std::string noChosenSheetText(const SheetChoice& choice, int worksheetCount) {
    if (choice.mode == SheetMode::ByPattern)
        return texts::NoMatchingSheetHead + choice.pattern +
               (choice.skipHidden ? texts::NoMatchingVisibleSheetTail : texts::NoMatchingSheetTail);
    return worksheetCount == 0 ? texts::NoWorksheet : texts::NoVisibleWorksheet;
}

// Merges the current source of `run` sheet by sheet, one block per chosen sheet in workbook
// order. Sheets without a block (empty, no data below the start row) are passed over; the
// source fails only when no sheet is chosen or none gives a block (under the first sheet's
// reason), or when a block cannot be placed, which ends the source (the blocks placed before
// it stay).
void mergeSheetBySheet(detail::RunState& run) {
    ErrorState& errors = run.errors();
    const std::shared_ptr<Workbook> book = openCurrentSource(run);
    if (!book) return;
    const std::vector<int> positions = chosenSheets(*book, run.settings.sheet);
    const int worksheetCount = book->worksheetCount();
    errors.clear();
    if (positions.empty()) {
        book->close();
        errors.clear();
        run.recordFailure(FailureReason::SheetMissing, std::nullopt,
                          noChosenSheetText(run.settings.sheet, worksheetCount));
        return;
    }
    std::optional<SourceFailure> firstRefusal;
    std::string firstRefusedSheet;
    int placed = 0;
    for (const int position : positions) {
        ResolvedSource source;
        source.book = book;
        source.sheet = book->worksheet(position);
        SourceFailure refusal;
        if (!source.sheet) {
            refusal =
                SourceFailure{FailureReason::SheetMissing, run.pendingError(), texts::NoWorksheet};
            errors.clear();
        } else if (resolveSheetBlock(run, source, refusal)) {
            if (!copyAndMark(run, source)) {
                book->close();
                errors.clear();
                return;
            }
            ++placed;
            continue;
        }
        if (!firstRefusal) {
            firstRefusal = std::move(refusal);
            if (source.sheet) firstRefusedSheet = source.sheet->name();
        }
    }
    book->close();
    errors.clear();
    if (placed > 0) {
        ++run.mergedSources;
        return;
    }
    // The log names the sheet whose reason the source is listed under.
    run.reports[static_cast<std::size_t>(run.current)].sheet = firstRefusedSheet;
    run.recordFailure(firstRefusal->reason, std::move(firstRefusal->error),
                      std::move(firstRefusal->explanation));
}

// Merges or fails every source in turn into the result sheet of `run`. Returns the number of
// sources done when the user stopped the run after one of them, nullopt when all were done.
std::optional<int> mergeSources(detail::RunState& run) {
    Application& application = run.application;
    ErrorState& errors = run.errors();
    const int sourceCount = static_cast<int>(run.sources.size());
    run.resultSheet = run.resultBook->activeSheet();
    run.maxRows = run.resultSheet ? run.resultSheet->rowCount() : 0;
    application.setDisplayAlerts(false);
    errors.clear();

    // The sources after the first are read ahead while earlier ones are placed.
    for (int position = 1; position < sourceCount; ++position)
        application.expectOpen(run.sources[static_cast<std::size_t>(position)]);
    for (int position = 0; position < sourceCount; ++position) {
        run.current = position;
        run.host.beginSource(position + 1, sourceCount,
                             run.sources[static_cast<std::size_t>(position)]);
        if (run.settings.sheet.takesSeveral()) {
            mergeSheetBySheet(run);
        } else if (std::optional<ResolvedSource> source = resolveSource(run)) {
            if (copyAndMark(run, *source)) ++run.mergedSources;
            source->book->close();
        }
        errors.clear();
        run.host.showProgress(position + 1, sourceCount);
        if (run.host.stopRequested()) return position + 1;
    }
    return std::nullopt;
}

// Finishes and saves the result, tells the user how the run went and hands the result over.
void finishRun(detail::RunState& run, int earlierResultsLeftOut, RunOutcome& outcome) {
    Application& application = run.application;
    const int sourceCount = static_cast<int>(run.sources.size());
    std::string saveError;
    const bool saved = finishResult(run, saveError);
    run.host.closeProgress();
    outcome.merged = run.mergedSources;
    outcome.failed = run.failures.failCount();
    outcome.sources = run.reports;
    if (saved) {
        outcome.status = RunStatus::Saved;
        outcome.summary = summaryText(sourceCount, outcome.merged, outcome.failed) +
                          earlierResultsText(earlierResultsLeftOut);
        outcome.message = finalMessage(outcome.summary, outcome.sources);
    } else {
        // What stands at the result's name is the empty workbook this run created at the
        // start (a failed save never replaces it); left there it would pass for the result.
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::path(outcome.resultPath), ignored);
        outcome.status = RunStatus::SaveFailed;
        outcome.reason = saveError;
        outcome.message = saveFailedText(sourceCount, outcome.merged, outcome.failed,
                                         outcome.resultPath, saveError);
    }
    run.host.showSummary(
        outcome.message, texts::NoticeTitle,
        saved ? std::filesystem::path(outcome.resultPath) : std::filesystem::path());

    application.setDisplayAlerts(true);
    application.maximise();
    application.setVisible(true);
    if (saved) run.host.handOver(std::filesystem::path(outcome.resultPath));
    run.errors().clear();
}

// Narrows the sources to those the host keeps after the options were confirmed (`given` is the
// list as the run was given it) and puts the sample first again: the one already opened when it
// is kept, else the first of the kept ones that opens, so that the run goes as it would for the
// narrowed list given at the start. False when none is kept or none can serve as the sample;
// `outcome` then says why.
bool narrowSources(const std::vector<std::string>& given, std::vector<std::string>& sources,
                   Application& application, RunHost& host, RunOutcome& outcome) {
    std::optional<std::vector<std::string>> kept = host.narrowSources(given);
    if (!kept) return true;
    const std::string sample = sources.front();
    sources = std::move(*kept);
    if (sources.empty()) {
        outcome.status = RunStatus::Cancelled;
        return false;
    }
    const auto at = std::find(sources.begin(), sources.end(), sample);
    if (at != sources.end()) {
        std::iter_swap(sources.begin(), at);
        return true;
    }
    std::shared_ptr<Workbook> other = openSample(sources, application, host, outcome);
    if (!other) return false;
    other->close();
    application.errors().clear();
    return true;
}

}  // namespace

RunOutcome Zelk(RunInput& input, Application& application, RunHost& host) {
    RunOutcome outcome;
    std::vector<std::string>& sources = input.SourceList;
    // The list as given, before the sample is moved to its front, for a host that narrows it.
    const std::vector<std::string> given = sources;
    outcome.chosen = static_cast<int>(sources.size());
    application.errors().clear();
    if (sources.empty()) {
        outcome.status = RunStatus::Cancelled;
        return outcome;
    }

    // Passwords reach the sample's open too: an encrypted package that no given password
    // opens is passed over as the sample like any other file that does not open.
    application.setPasswords(input.passwords);
    application.setCsvEncoding(input.csvEncoding);
    std::shared_ptr<Workbook> sample = openSample(sources, application, host, outcome);
    if (!sample) {
        tearDown(input);
        return outcome;
    }
    outcome.options = askForOptions(std::move(sample), input, application, host);
    if (!outcome.options.Confirmed) {
        outcome.status = RunStatus::Cancelled;
        tearDown(input);
        return outcome;
    }
    if (!narrowSources(given, sources, application, host, outcome)) {
        tearDown(input);
        return outcome;
    }
    const int sourceCount = static_cast<int>(sources.size());
    outcome.chosen = sourceCount;
    const MergeSettings settings = decodeOptions(outcome.options);

    std::shared_ptr<Workbook> resultBook =
        createResultWorkbook(input, settings.sheet, application, host, outcome);
    if (!resultBook) {
        tearDown(input);
        return outcome;
    }

    detail::RunState run{
        application, host, settings, sources, input.FolderPath, FailureTable(sourceCount)};
    for (const std::string& source : sources) {
        SourceReport report{source};
        report.relativePath = relativePath(source, input.FolderPath);
        run.reports.push_back(std::move(report));
    }
    run.passwords = input.passwords;
    run.resultFormat = input.resultFormat;
    run.resultBook = resultBook;
    if (const std::optional<int> stoppedAfter = mergeSources(run))
        return stopRun(run, outcome, input, *stoppedAfter);
    finishRun(run, input.earlierResultsLeftOut, outcome);
    tearDown(input);
    return outcome;
}

}  // namespace merge
