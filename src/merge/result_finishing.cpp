// Finishing the result: data sheet names and panes, the failure-list sheet, the save, and the
// texts of the summary.
#include "merge/result_finishing.h"

#include "merge/copy_and_mark.h"
#include "merge/texts.h"

namespace merge {

std::string dataSheetName(const std::string& baseName, int mergedCount, int position,
                          int sheetCount) {
    std::string name = baseName + "(" + std::to_string(mergedCount) + ")";
    if (sheetCount != 1) name += "-" + std::to_string(position);
    return name;
}

std::string failureSheetName(int failCount) {
    return std::string(texts::FailureSheetBase) + "(" + std::to_string(failCount) + ")";
}

std::string summaryText(int chosen, int merged, int failed) {
    return std::string(texts::SummaryChosen) + std::to_string(chosen) + texts::SummaryMerged +
           std::to_string(merged) + texts::SummaryFailed + std::to_string(failed) +
           texts::SummaryTail;
}

std::string earlierResultsText(int count) {
    if (count <= 0) return {};
    return texts::EarlierResultsHead + std::to_string(count) + texts::EarlierResultsTail;
}

std::string finalMessage(const std::string& summary, const std::vector<SourceReport>& reports) {
    std::string message = summary;
    int uncalculatedFiles = 0;
    long long uncalculatedCells = 0;
    bool anyFailed = false;
    for (const SourceReport& report : reports) {
        anyFailed = anyFailed || !report.merged();
        if (report.merged() && report.uncalculatedFormulas > 0) {
            ++uncalculatedFiles;
            uncalculatedCells += report.uncalculatedFormulas;
        }
    }
    if (anyFailed) message += std::string("\n") + texts::FailuresListed;
    if (uncalculatedFiles > 0)
        message += std::string("\n") + texts::UncalculatedFilesHead +
                   std::to_string(uncalculatedFiles) + texts::UncalculatedCellsHead +
                   std::to_string(uncalculatedCells) + texts::UncalculatedTail;
    return message;
}

std::string failureNote(const SourceFailure& failure) {
    const std::string cause = failure.cause();
    if (cause.empty()) return reasonText(failure.reason);
    return reasonText(failure.reason) + texts::NoteSeparator + cause;
}

std::string saveFailedText(int chosen, int merged, int failed, const std::string& path,
                           const std::string& reason) {
    return std::string(texts::SummaryChosen) + std::to_string(chosen) + texts::SummaryMerged +
           std::to_string(merged) + texts::SummaryFailed + std::to_string(failed) +
           texts::SaveFailedCounts + path + texts::QuoteColon + reason + texts::FullStop;
}

namespace {

void addFailureSheet(detail::RunState& run) {
    Workbook& book = *run.resultBook;
    const std::shared_ptr<Worksheet> first = book.worksheet(1);
    const std::shared_ptr<Worksheet> sheet =
        first ? book.addWorksheet(*first, Placement::Before) : nullptr;
    if (!sheet) return;
    sheet->setName(failureSheetName(run.failures.failCount()));
    const ValueBlock& grid = run.failures.grid();
    const std::shared_ptr<Range> corner = sheet->range("A1");
    if (const std::shared_ptr<Range> table =
            corner ? corner->resize(static_cast<int>(grid.size()), 5) : nullptr) {
        table->setValues(grid);
        table->setFontSize(10);
        table->setFontName(texts::FailureSheetFont);
        table->autoFitColumns();
    }
    // Each failed source's cell tells why it failed when the pointer rests on it.
    for (const FailureTable::Entry& entry : run.failures.entries())
        if (const std::shared_ptr<Range> cell =
                sheet->cell(entry.gridRow, static_cast<int>(entry.failure.reason)))
            cell->setNote(failureNote(entry.failure));
    if (const std::shared_ptr<Range> headings = sheet->range("A1:E2")) headings->setFontBold(true);
    if (const std::shared_ptr<Range> below = sheet->range("A3")) {
        below->select();
        book.setFreezePanes(true);
    }
    if (const std::shared_ptr<Range> counts = sheet->range("B2:E2")) {
        counts->select();
        counts->setFontColorIndex(3);
        counts->centreHorizontally();
    }
    // The workbook opens on the first data sheet.
    if (const std::shared_ptr<Worksheet> data = book.worksheet(2)) data->select();
}

}  // namespace

bool finishResult(detail::RunState& run, std::string& saveError) {
    Workbook& book = *run.resultBook;
    ErrorState& errors = run.errors();
    const bool frozenHeader = headerRowCount(run.settings) > 0;
    const int dataSheets = book.worksheetCount();
    for (int position = 1; position <= dataSheets; ++position) {
        const std::shared_ptr<Worksheet> sheet = book.worksheet(position);
        if (!sheet) continue;
        sheet->select();
        // A name the application refuses (too long) leaves the sheet under the name it had.
        sheet->setName(
            dataSheetName(run.sheetBaseName, run.mergedCount, position, book.worksheetCount()));
        const std::string cell =
            frozenHeader ? "A" + std::to_string(run.settings.range.startRow) : std::string("A1");
        if (const std::shared_ptr<Range> range = sheet->range(cell)) {
            range->select();
            if (frozenHeader) book.setFreezePanes(true);
        }
    }
    run.sheetBaseName.clear();

    if (!run.failures.empty()) {
        addFailureSheet(run);
    } else if (const std::shared_ptr<Worksheet> data = book.worksheet(1)) {
        data->select();
    }
    run.resultSheet.reset();

    errors.clear();
    book.save();
    if (errors.isSet()) {
        saveError = errors.message();
        errors.clear();
        return false;
    }
    return true;
}

}  // namespace merge
