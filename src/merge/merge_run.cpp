// The merge run: sample and options, the result workbook, the loop over the sources, and the
// hand-over of the result.
#include "merge/merge_run.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
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

// Creates the result file under a free name; returns "" and sets `reason` when it cannot.
std::string createResult(Workbook& book, Application& application, const std::string& base,
                         const std::function<bool(const std::string&)>& taken,
                         std::string& reason) {
    ErrorState& errors = application.errors();
    std::set<std::string> refused;
    auto takenOrRefused = [&](const std::string& path) {
        return refused.count(path) > 0 || taken(path);
    };
    SaveFormat format = SaveFormat::Xlsx;
    std::string extension = ".xlsx";
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

int chooseSample(const std::vector<std::string>& sources) {
    for (std::size_t position = 0; position < sources.size(); ++position) {
        if (endsWith(sources[position], ".xlsx") || endsWith(sources[position], ".xlsm"))
            return static_cast<int>(position);
    }
    return 0;
}

std::string timeStamp(const LocalTime& time) {
    return twoDigits(time.year) + twoDigits(time.month) + twoDigits(time.day) + " " +
           twoDigits(time.hour) + twoDigits(time.minute) + twoDigits(time.second);
}

std::string resultBaseName(const std::string& folder, const std::string& sheetSpec,
                           const LocalTime& time) {
    std::string base = folder;
    if (!sheetSpec.empty() && sheetSpec[0] == '3') base += sheetSpec.substr(1);
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

RunOutcome Zelk(RunInput& input, Application& application, RunHost& host) {
    RunOutcome outcome;
    std::vector<std::string>& sources = input.SourceList;
    const int sourceCount = static_cast<int>(sources.size());
    outcome.chosen = sourceCount;
    ErrorState& errors = application.errors();
    errors.clear();
    if (sourceCount == 0) {
        outcome.status = RunStatus::Cancelled;
        return outcome;
    }

    // The sample: the first .xlsx/.xlsm, moved to the front; the merge runs in this order.
    const int samplePosition = chooseSample(sources);
    std::swap(sources[static_cast<std::size_t>(samplePosition)], sources[0]);
    const std::string samplePath = sources[0];

    std::shared_ptr<Workbook> sample = application.openWorkbook(samplePath);
    if (!sample || errors.isSet()) {
        outcome.status = RunStatus::StartFailed;
        outcome.reason = errors.message();
        outcome.message =
            std::string(texts::CannotOpenHead) + samplePath + texts::QuoteColon + outcome.reason;
        host.showMessage(outcome.message, MessageStyle::Plain, texts::ErrorTitle);
        errors.clear();
        if (sample) sample->close();
        application.quit();
        tearDown(input);
        return outcome;
    }
    const int worksheetCount = sample->worksheetCount();
    if (worksheetCount == 0) {
        const std::string name = sample->name();
        sample->close();
        application.quit();
        errors.clear();
        outcome.status = RunStatus::NoWorksheetInSample;
        outcome.message = std::string("“") + name + texts::NoWorksheetTail;
        host.showMessage(outcome.message, MessageStyle::Information, texts::NoticeTitle);
        tearDown(input);
        return outcome;
    }

    SampleInfo info;
    info.folderPath = input.FolderPath;
    info.sourceCount = sourceCount;
    info.samplePath = samplePath;
    const std::shared_ptr<Worksheet> active = sample->activeSheet();
    const std::string activeName = active ? active->name() : std::string();
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
    outcome.options = host.askOptions(info, resolve);
    sample->close();
    sample.reset();
    errors.clear();
    if (!outcome.options.Confirmed) {
        outcome.status = RunStatus::Cancelled;
        tearDown(input);
        return outcome;
    }

    // The result workbook, with one sheet, saved at once under its time-stamped name.
    const int sheetsBefore = application.sheetsInNewWorkbook();
    application.setSheetsInNewWorkbook(1);
    std::shared_ptr<Workbook> resultBook = application.addWorkbook();
    application.setSheetsInNewWorkbook(sheetsBefore);
    const std::string folder = input.resultFolder.empty() ? input.FolderPath : input.resultFolder;
    const std::string base = resultBaseName(folder, outcome.options.SheetSpec,
                                            input.now ? input.now() : currentLocalTime());
    std::string reason;
    std::string resultPath;
    if (!resultBook) {
        reason = base + texts::QuoteColon + errors.message();
        errors.clear();
    } else {
        resultPath = createResult(*resultBook, application, base,
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
        tearDown(input);
        return outcome;
    }
    outcome.resultPath = resultPath;

    detail::RunState run{
        application, host, outcome.options, sources, input.FolderPath, FailureTable(sourceCount)};
    run.resultBook = resultBook;
    run.resultSheet = resultBook->activeSheet();
    run.maxRows = run.resultSheet ? run.resultSheet->rowCount() : 0;
    application.setDisplayAlerts(false);
    errors.clear();

    // The sources after the first are read ahead while earlier ones are placed.
    for (int position = 1; position < sourceCount; ++position)
        application.expectOpen(sources[static_cast<std::size_t>(position)]);
    for (int position = 0; position < sourceCount; ++position) {
        run.current = position;
        host.beginSource(position + 1, sourceCount, sources[static_cast<std::size_t>(position)]);
        if (std::optional<ResolvedSource> source = resolveSource(run)) copyAndMark(run, *source);
        errors.clear();
        host.showProgress(position + 1, sourceCount);
        if (host.stopRequested()) return stopRun(run, outcome, input, position + 1);
    }

    std::string saveError;
    const bool saved = finishResult(run, saveError);
    host.closeProgress();
    outcome.merged = run.mergedCount;
    outcome.failed = run.failures.failCount();
    if (saved) {
        outcome.status = RunStatus::Saved;
        outcome.message = summaryText(sourceCount, outcome.merged, outcome.failed);
    } else {
        // What stands at the result's name is the empty workbook this run created at the
        // start (a failed save never replaces it); left there it would pass for the result.
        std::error_code ignored;
        std::filesystem::remove(std::filesystem::path(resultPath), ignored);
        outcome.status = RunStatus::SaveFailed;
        outcome.reason = saveError;
        outcome.message =
            saveFailedText(sourceCount, outcome.merged, outcome.failed, resultPath, saveError);
    }
    host.showSummary(outcome.message, texts::NoticeTitle,
                     saved ? std::filesystem::path(resultPath) : std::filesystem::path());

    application.setDisplayAlerts(true);
    application.maximise();
    application.setVisible(true);
    if (saved) host.handOver(std::filesystem::path(resultPath));
    errors.clear();
    tearDown(input);
    return outcome;
}

}  // namespace merge
